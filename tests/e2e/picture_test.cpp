// Pictures end to end: instruction words from the virtual board become
// pixels in the window, where the plot mapping puts them, in their colours,
// shown while being built (single buffer) or only at the end of the frame
// (double buffer).
#include <map>

#include "tests/e2e/harness.h"

namespace e2e
{
namespace
{

class E2eBuffering : public E2eTest, public ::testing::WithParamInterface<char>
{
};

// Two frames through a named pipe, each sent first without and then with
// its end of frame.  Double buffering shows nothing new until the end of
// the frame; single buffering shows the picture as it is built.  The
// second frame, after a clear, replaces the first.
TEST_P(E2eBuffering, FramesAppearAtTheMappedPixels)
{
	const bool double_buffer = GetParam() == 'y';
	TempDir tmp;
	std::string fifo = tmp.fifo("board");
	Running r = start_with_window({{"VELMORA_BOARD", "fifo:" + fifo}}, GetParam());
	ASSERT_NE(r.window, 0u);
	FifoWriter board(fifo);
	ASSERT_TRUE(board.open());

	// A blue segment across the lower left, and a red polyline that climbs
	// past the top edge (y above 776 is out of view) and comes back.
	const std::vector<Segment> first = {
	        {100, 200, 400, 200, Colour::Blue},
	        {600, 100, 600, 900, Colour::Red},
	        {600, 900, 950, 350, Colour::Red},
	};
	// A black diagonal and a short red vertical, nowhere near the first.
	const std::vector<Segment> second = {
	        {150, 700, 450, 400, Colour::Black},
	        {850, 60, 850, 250, Colour::Red},
	};

	ASSERT_TRUE(board.write(Stream().sync().clear().segments(first).bytes()));
	if (double_buffer) {
		sleep_ms(500);
		Image img;
		ASSERT_TRUE(grab(r.window, &img));
		EXPECT_EQ(count_colour(img, Colour::Red) + count_colour(img, Colour::Blue), 0)
		        << "the unfinished first frame is on the screen";
	} else {
		EXPECT_EQ(wait_for_picture(r.window, first), "") << "first frame while being built";
	}
	ASSERT_TRUE(board.write(Stream().end_frame().bytes()));
	EXPECT_EQ(wait_for_picture(r.window, first), "") << "first frame";

	ASSERT_TRUE(board.write(Stream().clear().segments(second).bytes()));
	if (double_buffer) {
		sleep_ms(500);
		Image img;
		ASSERT_TRUE(grab(r.window, &img));
		EXPECT_EQ(check_picture(img, first), "") << "the first frame must stay until the second ends";
	} else {
		EXPECT_EQ(wait_for_picture(r.window, second), "") << "second frame while being built";
	}
	ASSERT_TRUE(board.write(Stream().end_frame().bytes()));
	EXPECT_EQ(wait_for_picture(r.window, second), "") << "second frame";
	EXPECT_TRUE(r.child->running());
}

INSTANTIATE_TEST_SUITE_P(, E2eBuffering, ::testing::Values('y', 'n'), buffering_name);

using E2eResize = E2eTest;

// The plot keeps its proportions whatever the window's shape: the bottom
// edge stays at the grid's y = 0 side and one plot unit is width/2 pixels
// both ways, so a change of height shows more or less of the top.  At the
// start-up size y above 776 is cut off; a square window shows it all.
TEST_F(E2eResize, WindowShowsMoreOrLessOfTheTop)
{
	const std::vector<Segment> frame = {
	        {100, 100, 900, 100, Colour::Blue},
	        {100, 1000, 900, 1000, Colour::Red},
	        {500, 300, 500, 1020, Colour::Black},
	};
	TempDir tmp;
	Running r = start_with_window(
	        {{"VELMORA_BOARD", "file:" + tmp.file("frame", Stream().sync().frame(frame).bytes())}}, 'y');
	ASSERT_NE(r.window, 0u);
	EXPECT_EQ(wait_for_picture(r.window, frame), "") << "664 x 498";

	Image img;
	ASSERT_TRUE(grab(r.window, &img));
	EXPECT_EQ(count_colour(img, Colour::Red), 0) << "y = 1000 is above the top at the start-up size";

	struct Size {
		int width, height;
	};
	for (Size size : {Size{800, 800}, Size{498, 664}, Size{1000, 400}}) {
		ASSERT_TRUE(resize_window(r.window, size.width, size.height));
		EXPECT_EQ(wait_for_picture(r.window, frame), "") << size.width << " x " << size.height;
	}
	ASSERT_TRUE(grab(r.window, &img));
	EXPECT_GT(count_colour(img, Colour::Blue), 0);
	EXPECT_EQ(count_colour(img, Colour::Red), 0) << "a wide window shows less of the top";
}

// ---------------------------------------------------------------- text

// Glyphs of the stroke font used below: (code, row) pairs ended by -1;
// column = code & 7, a code above 7 lifts the pen.
const std::map<char, std::vector<int>> glyphs = {
        {'A', {8, 2, 0, 8, 2, 10, 4, 8, 4, 2, 8, 5, 4, 5, -1}},
        {'E', {12, 2, 0, 2, 0, 10, 4, 10, 8, 6, 3, 6, -1}},
        {'F', {8, 2, 0, 10, 4, 10, 8, 6, 3, 6, -1}},
        {'H', {8, 10, 0, 2, 12, 10, 4, 2, 8, 6, 4, 6, -1}},
        {'I', {9, 2, 3, 2, 10, 2, 2, 10, 9, 10, 3, 10, -1}},
        {'L', {8, 10, 0, 2, 4, 2, -1}},
        {'T', {10, 2, 2, 10, 8, 10, 4, 10, -1}},
};

// The segments that text at (x, y) should leave: each point of the glyph
// scaled by size/2 with halves rounded up, turned by a quarter turn per
// rotation step anticlockwise, put at the pen; the pen then moves
// size*7/2 along the direction of writing.
std::vector<Segment> expected_text(const std::string &text, int x, int y, int size, int rotation,
                                   Colour colour)
{
	std::vector<Segment> out;
	for (char ch : text) {
		const std::vector<int> &g = glyphs.at(ch);
		int px = 0, py = 0;
		for (size_t i = 0; g[i] >= 0; i += 2) {
			int sx = ((g[i] & 7) * size + 1) >> 1, sy = (g[i + 1] * size + 1) >> 1;
			int dx = sx, dy = sy;
			if (rotation == 1) {
				dx = -sy;
				dy = sx;
			} else if (rotation == 2) {
				dx = -sx;
				dy = -sy;
			} else if (rotation == 3) {
				dx = sy;
				dy = -sx;
			}
			int nx = x + dx, ny = y + dy;
			if (i > 0 && g[i] <= 7)
				out.push_back(
				        {(uint16_t)px, (uint16_t)py, (uint16_t)nx, (uint16_t)ny, colour});
			px = nx;
			py = ny;
		}
		int advance = size * 7 / 2;
		x += rotation == 0 ? advance : rotation == 2 ? -advance : 0;
		y += rotation == 1 ? advance : rotation == 3 ? -advance : 0;
	}
	return out;
}

struct TextRun {
	std::string text;
	int x, y, size, rotation;
	Colour colour;
};

using E2eText = E2eTest;

// Four runs, in two sizes and all four directions of writing, each in its
// colour; the strokes must be exactly where the glyph points map, so a
// wrong size, turn, advance or colour shows as missing or stray pixels.
TEST_F(E2eText, StrokesInSizesAndRotations)
{
	const std::vector<TextRun> runs = {
	        {"HELTA", 80, 620, 6, 0, Colour::Blue},
	        {"TEA", 420, 430, 7, 1, Colour::Black},
	        {"LIFE", 900, 720, 7, 2, Colour::Red},
	        {"HAT", 640, 330, 6, 3, Colour::Blue},
	};
	Stream s;
	s.sync().clear();
	std::vector<Segment> expected;
	for (const auto &run : runs) {
		s.move_to(run.colour, (uint16_t)run.x, (uint16_t)run.y)
		        .text(vw_attribute_byte((unsigned)run.size, (unsigned)run.colour,
		                                (unsigned)run.rotation),
		              run.text);
		auto segs = expected_text(run.text, run.x, run.y, run.size, run.rotation, run.colour);
		expected.insert(expected.end(), segs.begin(), segs.end());
	}
	s.end_frame();

	TempDir tmp;
	Running r = start_with_window({{"VELMORA_BOARD", "file:" + tmp.file("text", s.bytes())}}, 'y');
	ASSERT_NE(r.window, 0u);
	EXPECT_EQ(wait_for_picture(r.window, expected), "");
}

}  // namespace
}  // namespace e2e
