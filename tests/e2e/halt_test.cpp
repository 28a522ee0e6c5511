// A halt while the window is up: the message and "close window to exit",
// then no more work (the process sleeps), but the window stays and closing
// it ends the process.
#include <sys/wait.h>

#include "tests/e2e/harness.h"

namespace e2e
{
namespace
{

struct Halt {
	const char *name;
	EnvVars env;
	Stream stream;
	std::string line;
	std::vector<Segment> shown;  // the picture on the screen when it halts, if checked
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Halt &c, std::ostream *os)
{
	*os << c.name;
}

class E2eHalt : public E2eTest, public ::testing::WithParamInterface<Halt>
{
};

TEST_P(E2eHalt, SleepsWithTheWindowOpenUntilItIsClosed)
{
	const Halt &h = GetParam();
	TempDir tmp;
	EnvVars env = h.env;
	env.emplace_back("VELMORA_BOARD", "file:" + tmp.file("stream", h.stream.bytes()));
	Running r = start_with_window(env, 'y');
	ASSERT_NE(r.window, 0u);

	const std::string expected =
	        startup_lines() + question + double_answer + h.line + "close window to exit\n";
	ASSERT_TRUE(console_is(*r.child, expected));
	if (!h.shown.empty()) {
		EXPECT_EQ(wait_for_picture(r.window, h.shown, 0), "");
	}

	sleep_ms(200);
	// Nothing wakes it but the window system: no timer, no idle call.
	const long woken = r.child->wakeups();
	EXPECT_LT(r.child->cpu_percent(1000), 10.0);
	EXPECT_LT(r.child->wakeups() - woken, 10) << "wake-ups in a second of halt";
	EXPECT_TRUE(r.child->running());
	EXPECT_TRUE(window_geometry(r.window).viewable);
	EXPECT_EQ(r.child->out(), expected);

	close_window(r.window);
	int status = 0;
	ASSERT_TRUE(r.child->wait_exit(&status)) << "still running after the window was closed";
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
}

// A list of exactly 50000 records (a red line, zero-length draws, the end
// of frame) is full but valid and is shown; the next record is one too
// many.  The draws all end on the line's last point, so the passes stay
// cheap.
const Segment full_line = {100, 100, 900, 100, Colour::Red};

Stream overflow()
{
	Stream s;
	s.sync().clear().segments({full_line});
	for (int records = 2; records < 49999; records++)
		s.word(vw_draw_x(full_line.x1));
	return s.end_frame().word(vw_draw_x(full_line.x1));
}

const Stream small_frame = Stream().sync().frame({{100, 100, 900, 100, Colour::Blue}});

INSTANTIATE_TEST_SUITE_P(, E2eHalt,
                         ::testing::Values(Halt{"TooManyCommands",
                                                {{"VELMORA_BOARD_RATE", "0"}},
                                                overflow(),
                                                "too many commands\n",
                                                {full_line}},
                                           Halt{"ReadFails",
                                                {{"VELMORA_BOARD_FAIL", "FT_Read"}},
                                                small_frame,
                                                "could not read value\n",
                                                {}},
                                           Halt{"QueueQueryFails",
                                                {{"VELMORA_BOARD_FAIL", "FT_GetQueueStatus@3"}},
                                                small_frame,
                                                "could not read queue information\n",
                                                {}}),
                         ::testing::PrintToStringParamName());

// The same overflowing stream, a dropped byte before its sync and bytes
// after the word that overflows, given to the display and to the three
// tools that read files: each names the same byte offset, the first byte
// of that word.
using E2eOverflow = E2eTest;
TEST_F(E2eOverflow, EveryProgramNamesTheSameOffset)
{
	TempDir tmp;
	std::string bytes = "\x07" + overflow().bytes();
	const std::string expected = "at the word at byte offset " + std::to_string(bytes.size() - 2) + " ";
	bytes += Stream().end_frame().bytes();
	const std::string board = tmp.file("board.bin", bytes);
	Running r = start_with_window({{"VELMORA_BOARD", "file:" + board}, {"VELMORA_BOARD_RATE", "0"}}, 'y');
	ASSERT_NE(r.window, 0u);
	ASSERT_TRUE(wait_until([&] { return r.child->err().find("byte offset") != std::string::npos; }))
	        << r.child->both();
	EXPECT_NE(r.child->err().find(expected), std::string::npos) << r.child->err();

	const char *asan = getenv("ASAN_OPTIONS");
	const EnvVars env = {{"ASAN_OPTIONS", std::string(asan ? asan : "") + ":detect_leaks=0"}};
	const std::string png = (tmp.path() / "p.png").string(), page = (tmp.path() / "p.html").string();
	for (std::vector<std::string> tool : {std::vector<std::string>{VELMORA_DECODE, board},
	                                      {VELMORA_SNAP, "-o", png, board},
	                                      {VELMORA_INSPECT, "-o", page, board}}) {
		Child c(tool, env);
		int status = -1;
		ASSERT_TRUE(c.wait_exit(&status, 60000)) << tool[0];
		EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << tool[0];
		EXPECT_NE(c.err().find(expected), std::string::npos) << tool[0] << ": " << c.err();
	}
}

using E2eHaltedWindow = E2eTest;

// After a halt, when the picture matters most, s still saves the window as
// it is shown: saving reads the window and draws nothing.
TEST_F(E2eHaltedWindow, SKeySavesWhatItShows)
{
	TempDir tmp;
	Running r = start_with_window({{"VELMORA_BOARD", "file:" + tmp.file("stream", overflow().bytes())},
	                               {"VELMORA_BOARD_RATE", "0"}},
	                              'y', tmp.path());
	ASSERT_NE(r.window, 0u);
	ASSERT_TRUE(r.child->wait_out_contains("close window to exit\n"));
	ASSERT_EQ(wait_for_picture(r.window, {full_line}), "");
	Image shown;
	ASSERT_TRUE(grab(r.window, &shown));
	const std::string png = save_with_s_key(r);
	ASSERT_NE(png, "") << r.child->both();
	std::string why;
	EXPECT_EQ(differences(read_png((tmp.path() / png).string(), &why), shown), "") << why;
}

// No pass is drawn after a halt: a window made larger keeps the picture it
// showed and is white, as everywhere nothing has been drawn, in the area it
// gains.
TEST_F(E2eHaltedWindow, AreaGainedByAResizeIsWhite)
{
	TempDir tmp;
	Running r = start_with_window({{"VELMORA_BOARD", "file:" + tmp.file("stream", overflow().bytes())},
	                               {"VELMORA_BOARD_RATE", "0"}},
	                              'y');
	ASSERT_NE(r.window, 0u);
	ASSERT_TRUE(r.child->wait_out_contains("close window to exit\n"));
	ASSERT_EQ(wait_for_picture(r.window, {full_line}), "");
	Image before, after;
	ASSERT_TRUE(grab(r.window, &before));
	ASSERT_TRUE(resize_window(r.window, 900, 700));
	sleep_ms(300);
	ASSERT_TRUE(grab(r.window, &after));
	int kept = 0, gained_not_white = 0;
	for (int y = 0; y < after.height; y++)
		for (int x = 0; x < after.width; x++) {
			if (x < before.width && y < before.height)
				kept += after.at(x, y) == before.at(x, y);
			else
				gained_not_white += after.colour(x, y) != Colour::White;
		}
	EXPECT_EQ(kept, before.width * before.height);
	EXPECT_EQ(gained_not_white, 0);
}

}  // namespace
}  // namespace e2e
