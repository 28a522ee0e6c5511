// The i key's overlay: it appears in the window's corner and tells what
// arrives, it goes again leaving the picture as it was, and the s key
// never saves it.  Its text is read from its window's name, its place from
// the window's pixels.
#include "tests/e2e/harness.h"

namespace e2e
{
namespace
{

constexpr int corner_width = 340, corner_height = 100;  // pixels from the top-left it may cover

// Pixels that differ between two grabs of the same window: how many, and
// how many of them lie outside the corner.
std::pair<int, int> changed(const Image &a, const Image &b)
{
	int all = 0, outside = 0;
	for (int y = 0; y < a.height; y++)
		for (int x = 0; x < a.width; x++)
			if (a.at(x, y) != b.at(x, y)) {
				all++;
				outside += x >= corner_width || y >= corner_height;
			}
	return {all, outside};
}

// Waits until the overlay's text holds what.
bool overlay_says(Window w, const std::string &what)
{
	return wait_until([&] { return shown_child_name(w).find(what) != std::string::npos; });
}

class E2eOverlay : public E2eTest, public ::testing::WithParamInterface<char>
{
};

TEST_P(E2eOverlay, AppearsTellsGoesAndIsNeverSaved)
{
	TempDir tmp;
	Stream s;
	// Lines through the corner, so that what it covers matters.
	s.sync().clear().segments({{0, 700, 600, 776, Colour::Blue}, {100, 100, 900, 700, Colour::Red}});
	s.move_to(Colour::Black, 30, 740).text(vw_attribute_byte(4, VW_BLACK, 0), "CORNER").end_frame();
	Running r =
	        start_with_window({{"VELMORA_BOARD", tmp.file("board", s.bytes())}}, GetParam(), tmp.path());
	ASSERT_NE(r.window, 0u);
	Image before, now;
	ASSERT_TRUE(wait_until(
	        [&] { return grab(r.window, &before) && count_colour(before, Colour::Black) > 0; }));
	sleep_ms(100);  // a pass more, in case the first grab caught one half drawn
	ASSERT_TRUE(grab(r.window, &before));

	press_key(r.window, "i");
	ASSERT_TRUE(overlay_says(r.window, "sync: found at")) << shown_child_name(r.window);
	EXPECT_TRUE(overlay_says(r.window, "line: no errors reported"));
	ASSERT_TRUE(grab(r.window, &now));
	auto [all, outside] = changed(before, now);
	EXPECT_GT(all, 1000);
	EXPECT_EQ(outside, 0);

	const std::string png = save_with_s_key(r);
	ASSERT_NE(png, "") << r.child->both();
	std::string why;
	EXPECT_EQ(differences(read_png((tmp.path() / png).string(), &why), before), "") << why;

	press_key(r.window, "i");
	why = "not grabbed";
	EXPECT_TRUE(wait_until([&] {
		return grab(r.window, &now) && (why = differences(now, before)).empty();
	})) << why;
	EXPECT_EQ(shown_child_name(r.window), "");
}

INSTANTIATE_TEST_SUITE_P(, E2eOverlay, ::testing::Values('y', 'n'), buffering_name);

using E2eOverlaySays = E2eTest;

// A halted board: the overlay names the halt, and taking it away puts the
// picture back although no pass will draw it again.
TEST_F(E2eOverlaySays, WhyTheBoardHalted)
{
	TempDir tmp;
	Stream s;
	// A line through the corner in a frame of 4 records, then the draws
	// that make 50001: the last one overflows.
	s.sync().frame({{0, 760, 600, 760, Colour::Blue}});
	for (int i = 0; i < 49997; i++)
		s.word(vw_draw_x(600));
	Running r = start_with_window(
	        {{"VELMORA_BOARD", tmp.file("board", s.bytes())}, {"VELMORA_BOARD_RATE", "0"}}, 'y');
	ASSERT_NE(r.window, 0u);
	ASSERT_TRUE(r.child->wait_out_contains("close window to exit\n"));
	Image before, now;
	ASSERT_TRUE(wait_until(
	        [&] { return grab(r.window, &before) && count_colour(before, Colour::Blue) > 0; }));

	press_key(r.window, "i");
	EXPECT_TRUE(overlay_says(r.window, "halted: too many commands at byte offset " +
	                                           std::to_string(s.bytes().size() - 2)))
	        << shown_child_name(r.window);
	press_key(r.window, "i");
	std::string why = "not grabbed";
	EXPECT_TRUE(wait_until([&] {
		return grab(r.window, &now) && (why = differences(now, before)).empty();
	})) << why;
}

// The silent window of a stream that never comes into step: the overlay
// says that no sync pair came, and then that nothing more arrives.
TEST_F(E2eOverlaySays, ThatNothingIsInStep)
{
	TempDir tmp;
	Running r = start_with_window({{"VELMORA_BOARD", tmp.file("board.txt", "sync\nOP_CLEAR\n")}}, 'y');
	ASSERT_NE(r.window, 0u);
	press_key(r.window, "i");
	EXPECT_TRUE(overlay_says(r.window, "sync: none yet: all 14 bytes dropped"))
	        << shown_child_name(r.window);
	EXPECT_TRUE(overlay_says(r.window, "received: nothing for 1 s")) << shown_child_name(r.window);
}

}  // namespace
}  // namespace e2e
