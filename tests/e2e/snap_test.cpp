// velmora-snap against the window: for the same stream, window size and
// buffering, the tool's PNG holds exactly the pixels the window shows.
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <regex>

#include "tests/e2e/harness.h"

namespace e2e
{
namespace
{

// Three frames without a clear between them, so each pass draws over the
// frames before it, then a line after the last end of frame that only
// single buffering shows.  Red before any colour record (255) and after
// one (254), white (254) over blue and over the background, text in three
// sizes and rotations, and lines that leave the window at the top.
Stream picture()
{
	const Colour red = Colour::Red, blue = Colour::Blue, black = Colour::Black, white = Colour::White;
	auto attr = [](unsigned size, Colour colour, unsigned rotation) {
		return vw_attribute_byte(size, (unsigned)colour, rotation);
	};
	Stream s;
	s.sync().clear();
	s.move_to(red, 600, 100).line_to(600, 900).line_to(950, 350);
	s.move_to(blue, 80, 620).text(attr(6, blue, 0), "HELTA 42");
	s.move_to(black, 420, 430).text(attr(7, black, 1), "TEA");
	s.end_frame();
	s.move_to(white, 60, 640).line_to(700, 600);
	s.move_to(red, 900, 720).text(attr(4, red, 2), "LIFE");
	s.end_frame();
	s.move_to(blue, 100, 100).line_to(1000, 1020);
	s.move_to(black, 640, 330).text(attr(5, black, 3), "HAT");
	s.end_frame();
	s.move_to(black, 200, 300).line_to(500, 150);
	return s;
}

struct Case {
	char answer;
	int width, height;
};

class E2eSnap : public E2eTest, public ::testing::WithParamInterface<Case>
{
};
// Double buffering against the last frame, single buffering against the
// whole input: what each window shows once the stream is in.
TEST_P(E2eSnap, PngHoldsTheWindowsPixels)
{
	const Case c = GetParam();
	TempDir tmp;
	const std::string board = tmp.file("board", picture().bytes());
	Running r = start_with_window({{"VELMORA_BOARD", "file:" + board}}, c.answer);
	ASSERT_NE(r.window, 0u);
	if (c.width != 664 || c.height != 498) {
		ASSERT_TRUE(resize_window(r.window, c.width, c.height));
	}

	const std::string png = (tmp.path() / "snap.png").string();
	std::vector<std::string> argv = {VELMORA_SNAP, "--size",
	                                 std::to_string(c.width) + "x" + std::to_string(c.height), "-o", png};
	if (c.answer == 'y')
		argv.push_back("--double");
	else
		argv.insert(argv.end(), {"--single", "--eof"});
	argv.push_back(board);
	// OSMesa keeps its framebuffers until the process ends.
	const char *asan = getenv("ASAN_OPTIONS");
	Child snap(argv, {{"ASAN_OPTIONS", std::string(asan ? asan : "") + ":detect_leaks=0"}});
	int status = -1;
	ASSERT_TRUE(snap.wait_exit(&status, 60000));
	ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << snap.err();

	std::string why;
	const Image expected = read_png(png, &why);
	ASSERT_EQ(why, "");
	for (Colour colour : {Colour::Red, Colour::Blue, Colour::Black})
		EXPECT_GT(count_colour(expected, colour), 0) << (int)colour;

	Image shown;
	why = "window not readable";
	wait_until([&] {
		if (!grab(r.window, &shown))
			return false;
		why = differences(expected, shown);
		return why.empty();
	});
	EXPECT_EQ(why, "");
}

INSTANTIATE_TEST_SUITE_P(, E2eSnap,
                         ::testing::Values(Case{'y', 664, 498}, Case{'n', 664, 498}, Case{'y', 1000, 400},
                                           Case{'n', 501, 720}),
                         [](const ::testing::TestParamInfo<Case> &i) {
	                         return std::string(i.param.answer == 'y' ? "Double" : "Single") +
	                                std::to_string(i.param.width) + "x" + std::to_string(i.param.height);
                         });

// Runs velmora-snap with args; its exit status and stderr.
int snap(std::vector<std::string> args, std::string *err = nullptr)
{
	args.insert(args.begin(), VELMORA_SNAP);
	// OSMesa keeps its framebuffers until the process ends.
	const char *asan = getenv("ASAN_OPTIONS");
	Child c(args, {{"ASAN_OPTIONS", std::string(asan ? asan : "") + ":detect_leaks=0"}});
	int status = -1;
	EXPECT_TRUE(c.wait_exit(&status, 60000));
	if (err)
		*err = c.err();
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The scale docs/stream.md gives board developers, its own example checked:
// two vertical lines land in the pixel columns it names.
TEST(SnapScale, StreamDocsExampleHolds)
{
	const std::string doc = read_file(std::string(VELMORA_SOURCE_DIR) + "/docs/stream.md");
	std::string flat;
	for (char c : doc)
		flat += c == '\n' ? ' ' : c;
	std::smatch m;
	ASSERT_TRUE(std::regex_search(flat, m,
	                              std::regex("x = (\\d+) falls in pixel column (\\d+) and x = (\\d+) in "
	                                         "column (\\d+)")));
	const int x0 = std::stoi(m[1]), col0 = std::stoi(m[2]), x1 = std::stoi(m[3]), col1 = std::stoi(m[4]);
	TempDir tmp;
	Stream s;
	s.sync().frame({{(uint16_t)x0, 100, (uint16_t)x0, 300, Colour::Red},
	                {(uint16_t)x1, 100, (uint16_t)x1, 300, Colour::Red}});
	const std::string png = (tmp.path() / "scale.png").string();
	ASSERT_EQ(snap({"-o", png, tmp.file("lines", s.bytes())}), 0);
	std::string why;
	const Image img = read_png(png, &why);
	ASSERT_EQ(why, "");
	std::vector<int> columns;
	for (int x = 0; x < img.width; x++)
		for (int y = 0; y < img.height; y++)
			if (img.colour(x, y) == Colour::Red) {
				columns.push_back(x);
				break;
			}
	EXPECT_EQ(columns, (std::vector<int>{col0, col1}));
}

// The test card, a board file in the text form, and a few frames of the
// demo show in the window as velmora-snap pictures them, with either
// buffering (double: the last frame; single: all of it as drawn).
class E2eShown : public E2eTest, public ::testing::WithParamInterface<std::tuple<std::string, char>>
{
};

TEST_P(E2eShown, WindowIsItsSnap)
{
	const auto &[what, answer] = GetParam();
	TempDir tmp;
	std::string board = std::string(VELMORA_SOURCE_DIR) + "/examples/test_card.vel";
	if (what == "Demo") {
		board = (tmp.path() / "demo.bin").string();
		ASSERT_EQ(run({VELMORA_DEMO, "--fps", "0", "--frames", "12", "--output", board}).status, 0);
	}
	const std::string png = (tmp.path() / "snap.png").string();
	std::vector<std::string> args = {"-o", png, board};
	if (answer == 'n')
		args.insert(args.begin(), {"--single", "--eof"});
	ASSERT_EQ(snap(args), 0);
	std::string why;
	const Image expected = read_png(png, &why);
	ASSERT_EQ(why, "");
	Running r = start_with_window({{"VELMORA_BOARD", board}}, answer);
	ASSERT_NE(r.window, 0u);
	Image shown;
	why = "window not readable";
	wait_until([&] { return grab(r.window, &shown) && (why = differences(expected, shown)).empty(); });
	EXPECT_EQ(why, "");
}

INSTANTIATE_TEST_SUITE_P(
        , E2eShown, ::testing::Combine(::testing::Values("TestCard", "Demo"), ::testing::Values('y', 'n')),
        [](const auto &i) {
	        return std::get<0>(i.param) + (std::get<1>(i.param) == 'y' ? "Double" : "Single");
        });

// A stream that overflows the display list after complete frames: the
// halted window shows the last of them, and so does the picture, although
// the exit status still tells of the overflow.
TEST(SnapOverflow, PicturesWhatTheHaltedWindowShows)
{
	TempDir tmp;
	Stream s = picture();
	s.clear().move_to(Colour::Red, 0, 0);
	for (int i = 0; i < 50000; i++)
		s.word(vw_draw_x((unsigned)i % 1024));
	const std::string board = tmp.file("board", s.bytes());
	const std::string halted = (tmp.path() / "halted.png").string(),
	                  third = (tmp.path() / "3.png").string();
	const char *asan = getenv("ASAN_OPTIONS");
	const EnvVars env = {{"ASAN_OPTIONS", std::string(asan ? asan : "") + ":detect_leaks=0"}};
	Child snap({VELMORA_SNAP, "-o", halted, board}, env),
	        frame({VELMORA_SNAP, "--frame", "3", "-o", third, board}, env);
	int status = -1;
	ASSERT_TRUE(snap.wait_exit(&status, 60000));
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << snap.err();
	EXPECT_NE(snap.err().find("the display list overflowed at the word at byte offset"),
	          std::string::npos)
	        << snap.err();
	ASSERT_TRUE(frame.wait_exit(&status, 60000));
	std::string why;
	const Image expected = read_png(third, &why);
	ASSERT_EQ(why, "");
	EXPECT_EQ(differences(read_png(halted, &why), expected), "") << why;
}

}  // namespace
}  // namespace e2e
