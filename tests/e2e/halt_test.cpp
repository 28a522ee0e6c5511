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
	EXPECT_LT(r.child->cpu_percent(1000), 10.0);
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

}  // namespace
}  // namespace e2e
