// Start-up as the user sees it: the console lines of the device set-up,
// the buffering question and its answer, the window, and the ways start-up
// ends early.
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>

#include "tests/e2e/harness.h"

namespace e2e
{
namespace
{

struct Answer {
	const char *name;
	std::string typed;   // written after the question; nothing and stdin closed if empty
	bool double_buffer;  // what the first character selects
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Answer &c, std::ostream *os)
{
	*os << c.name;
}

class E2eAnswer : public E2eTest, public ::testing::WithParamInterface<Answer>
{
};

// The whole console output, the question before the answer is read, and the
// window where and as large as it was asked for, white before any frame
// whatever the buffering; closing it ends the process with status 0 and
// nothing more on the console.
TEST_P(E2eAnswer, ConsoleAndWindowOfANormalStart)
{
	const Answer &a = GetParam();
	blacken_screen();
	auto child = start_velmora({{"VELMORA_BOARD", silent_board()}});

	const std::string asked = startup_lines() + question;
	ASSERT_TRUE(child->wait_out_size(asked.size())) << child->both();
	sleep_ms(100);  // nothing more may come until the answer is typed
	ASSERT_EQ(child->out(), asked);
	EXPECT_EQ(find_window(0), 0u) << "window before the answer";

	if (a.typed.empty())
		child->close_in();
	else
		child->write_in(a.typed);

	const std::string answered = asked + (a.double_buffer ? double_answer : single_answer);
	Window w = find_window();
	ASSERT_NE(w, 0u) << child->both();
	EXPECT_EQ(child->out(), answered);

	// On Windows the position is the frame's, as freeglut places it there:
	// the window's own area starts inside its borders and title bar.
	Geometry g = window_geometry(w);
	if (velmora_under_wine()) {
		EXPECT_TRUE(g.x >= 50 && g.x < 70 && g.y >= 100 && g.y < 150) << g.x << "," << g.y;
	} else {
		EXPECT_EQ(g.x, 50);
		EXPECT_EQ(g.y, 100);
	}
	EXPECT_EQ(g.width, 664);
	EXPECT_EQ(g.height, 498);
	// A single buffer shows the empty list each pass clears to white; a
	// double buffer shows nothing before the first end of frame, and the
	// window's own background is white too.
	EXPECT_EQ(wait_for_picture(w, {}), "");

	close_window(w);
	int status = 0;
	ASSERT_TRUE(child->wait_exit(&status)) << "still running after the window was closed";
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
	EXPECT_EQ(child->out(), answered);
}

INSTANTIATE_TEST_SUITE_P(, E2eAnswer,
                         ::testing::Values(Answer{"y", "y\n", true}, Answer{"n", "n\n", false},
                                           Answer{"UpperY", "Y\n", false}, Answer{"yes", "yes\n", true},
                                           Answer{"SpaceThenY", " y\n", false},
                                           Answer{"EnterAlone", "\n", false},
                                           Answer{"EndOfInput", "", false}),
                         ::testing::PrintToStringParamName());

// A start-up that ends early: the settings (with an empty board) and the
// whole console.
struct EarlyEnd {
	const char *name;
	EnvVars env;
	std::string console;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const EarlyEnd &c, std::ostream *os)
{
	*os << c.name;
}

// Exits with status 1 before the question: no usable device.
class E2eNoDevice : public E2eTest, public ::testing::WithParamInterface<EarlyEnd>
{
};

TEST_P(E2eNoDevice, ExitsWithStatusOne)
{
	EnvVars env = GetParam().env;
	env.emplace_back("VELMORA_BOARD", silent_board());
	auto child = start_velmora(env);
	int status = 0;
	ASSERT_TRUE(child->wait_exit(&status));
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "wait status " << status;
	EXPECT_EQ(child->out(), GetParam().console) << "stderr:\n" << child->err();
}

INSTANTIATE_TEST_SUITE_P(
        , E2eNoDevice,
        ::testing::Values(EarlyEnd{"NoDevices",
                                   {{"VELMORA_BOARD_DEVICES", ""}},
                                   "USB_direct(19Jun2012 qz)\n"
                                   "Number of devices is 0\n"
                                   "Error: need a device to use!\n"},
                          // Near misses: a trailing blank, lower case, a longer name, a prefix.
                          EarlyEnd{"NoneMatches",
                                   {{"VELMORA_BOARD_DEVICES",
                                     "FT232R USB UART ;ft232r usb uart;FT232R USB UART2@S9;FT232R"}},
                                   "USB_direct(19Jun2012 qz)\n"
                                   "Number of devices is 4\n" +
                                           listing(0, "VB0000", "FT232R USB UART ") +
                                           listing(1, "VB0001", "ft232r usb uart") +
                                           listing(2, "S9", "FT232R USB UART2") +
                                           listing(3, "VB0003", "FT232R") + "FT232R USB UART not found\n"},
                          // A failed enumeration prints no count and lists nothing.
                          EarlyEnd{"EnumerationFails",
                                   {{"VELMORA_BOARD_FAIL", "FT_CreateDeviceInfoList"}},
                                   "USB_direct(19Jun2012 qz)\n"
                                   "FT232R USB UART not found\n"}),
        ::testing::PrintToStringParamName());

using E2eDevices = E2eTest;

// Every matching device gets its found line and the last one is opened.
TEST_F(E2eDevices, LastMatchingOneIsOpened)
{
	auto child = start_velmora(
	        {{"VELMORA_BOARD", silent_board()},
	         {"VELMORA_BOARD_DEVICES", "FT232R USB UART@FIRST;Dual RS232;FT232R USB UART@THIRD"}});
	const std::string expected =
	        "USB_direct(19Jun2012 qz)\n"
	        "Number of devices is 3\n" +
	        listing(0, "FIRST", "FT232R USB UART") + "  ***** FT232R USB UART found as device 0\n" +
	        listing(1, "VB0001", "Dual RS232") + listing(2, "THIRD", "FT232R USB UART") +
	        "  ***** FT232R USB UART found as device 2\n"
	        "device 2 opened\n"
	        "Device: 00000005  Device ID: 04036001\n"
	        "SN: THIRD  Description: FT232R USB UART\n"
	        "device 2 reset\n"
	        "set baud rate: 1500000\n" +
	        question;
	ASSERT_TRUE(console_is(*child, expected));
}

// VELMORA_SERIAL picks one of several boards; a serial nobody has ends the
// start-up as no board at all does, naming the serial.
TEST_F(E2eDevices, SerialPicksTheBoard)
{
	const EnvVars boards = {{"VELMORA_BOARD", silent_board()},
	                        {"VELMORA_BOARD_DEVICES", "FT232R USB UART@FIRST;FT232R USB UART@SECOND"}};
	EnvVars env = boards;
	env.emplace_back("VELMORA_SERIAL", "FIRST");
	auto child = start_velmora(env);
	ASSERT_TRUE(console_is(*child, "USB_direct(19Jun2012 qz)\n"
	                               "Number of devices is 2\n" +
	                                       listing(0, "FIRST", "FT232R USB UART") +
	                                       "  ***** FT232R USB UART found as device 0\n" +
	                                       listing(1, "SECOND", "FT232R USB UART") +
	                                       "device 0 opened\n"
	                                       "Device: 00000005  Device ID: 04036001\n"
	                                       "SN: FIRST  Description: FT232R USB UART\n"
	                                       "device 0 reset\n"
	                                       "set baud rate: 1500000\n" +
	                                       question));

	env = boards;
	env.emplace_back("VELMORA_SERIAL", "THIRD");
	child = start_velmora(env);
	int status = 0;
	ASSERT_TRUE(child->wait_exit(&status));
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << child->both();
	EXPECT_NE(child->out().find("FT232R USB UART not found\n"), std::string::npos) << child->both();
	EXPECT_NE(child->err().find("\"THIRD\""), std::string::npos) << child->both();
}

// A device failure during start-up halts: its line, "close window to
// exit", no question and no window; the process then sleeps until a signal
// ends it.
class E2eSetupFailure : public E2eTest, public ::testing::WithParamInterface<EarlyEnd>
{
};

TEST_P(E2eSetupFailure, HaltsAsleepWithoutAWindow)
{
	EnvVars env = GetParam().env;
	if (std::none_of(env.begin(), env.end(), [](const auto &v) { return v.first == "VELMORA_BOARD"; }))
		env.emplace_back("VELMORA_BOARD", silent_board());  // unless the case names its own
	auto child = start_velmora(env);
	const std::string &expected = GetParam().console;
	ASSERT_TRUE(console_is(*child, expected));

	EXPECT_LT(child->cpu_percent(1000), 5.0);
	EXPECT_TRUE(child->running());
	EXPECT_EQ(find_window(0), 0u);
	EXPECT_EQ(child->out(), expected);

	child->signal(SIGTERM);
	int status = 0;
	ASSERT_TRUE(child->wait_exit(&status));
	EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "wait status " << status;
}

const std::string opened_and_reset = startup_lines().substr(0, startup_lines().rfind("set baud rate"));

INSTANTIATE_TEST_SUITE_P(
        , E2eSetupFailure,
        ::testing::Values(EarlyEnd{"Purge",
                                   {{"VELMORA_BOARD_FAIL", "FT_Purge"}},
                                   startup_lines() + "could not purge the RX and TX buffers\n"
                                                     "close window to exit\n"},
                          // A board that is a directory fails the open, before any window.
                          EarlyEnd{"BoardIsADirectory",
                                   {{"VELMORA_BOARD", "file:/"}},
                                   "USB_direct(19Jun2012 qz)\n"
                                   "Number of devices is 1\n" +
                                           listing(0, "VB0000", "FT232R USB UART") +
                                           "  ***** FT232R USB UART found as device 0\n"
                                           "could not open ft device\n"
                                           "close window to exit\n"},
                          EarlyEnd{"BaudRate",
                                   {{"VELMORA_BOARD_FAIL", "FT_SetBaudRate"}},
                                   opened_and_reset + "could not set the baud rate: 1500000\n"
                                                      "close window to exit\n"},
                          // The second device's query fails after the first one matched:
                          // nothing is opened.
                          EarlyEnd{"SecondDeviceQuery",
                                   {{"VELMORA_BOARD_DEVICES", "FT232R USB UART;FT232R USB UART"},
                                    {"VELMORA_BOARD_FAIL", "FT_GetDeviceInfoDetail@1"}},
                                   "USB_direct(19Jun2012 qz)\n"
                                   "Number of devices is 2\n" +
                                           listing(0, "VB0000", "FT232R USB UART") +
                                           "  ***** FT232R USB UART found as device 0\n"
                                           "could not get device info\n"
                                           "close window to exit\n"}),
        ::testing::PrintToStringParamName());

}  // namespace
}  // namespace e2e
