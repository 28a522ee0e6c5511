// The character stroker against the display list it fills, alone and behind
// the instruction decoder.
#include "font/stroker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

#include "display/display_list.h"
#include "font/glyphs.h"
#include "stream/decoder.h"

static bool operator==(const DisplayRecord &a, const DisplayRecord &b)
{
	return a.kind == b.kind && a.p1 == b.p1 && a.p2 == b.p2;
}

static void PrintTo(const DisplayRecord &r, std::ostream *os)
{
	static const char *const kinds[] = {"?", "goto", "draw", "color", "end"};
	*os << (r.kind < 5 ? kinds[r.kind] : "?") << "(" << r.p1 << ", " << r.p2 << ")";
}

namespace
{

using Records = std::vector<DisplayRecord>;

DisplayRecord G(uint16_t x, uint16_t y)
{
	return {CMD_GOTO, x, y};
}
DisplayRecord D(uint16_t x, uint16_t y)
{
	return {CMD_DRAW, x, y};
}
const DisplayRecord white = {CMD_COLOR, 0x00FF, 0xFFFF};
const DisplayRecord red = {CMD_COLOR, 0x0000, 0x00FF};
const DisplayRecord blue = {CMD_COLOR, 0x00FF, 0x0000};

Records stored(int32_t from = 0)
{
	Records r;
	for (int32_t i = from; i < nCommands && i < max_commands; i++)
		r.push_back(command[i]);
	return r;
}

class Stroker : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		ClearList();
		current_color = 1;
		gx1 = 0;
		gy1 = 0;
		CharacterAttributes = 0;
	}

	static void stroke_at(uint16_t x, uint16_t y, uint16_t ch, uint16_t attr)
	{
		gx1 = x;
		gy1 = y;
		CharacterStroker(ch, attr);
	}
};

using CharacterWords = Stroker;

}  // namespace

TEST_F(Stroker, CapitalAInAllFourRotations)
{
	using Pt = std::array<uint16_t, 2>;
	struct Case {
		uint16_t attr;
		std::array<Pt, 7> points;  // move, 4 draws, move, draw
		Pt pen;
	};
	const Case cases[] = {
	        {0x13,
	         {{{100, 103}, {100, 112}, {103, 115}, {106, 112}, {106, 103}, {100, 108}, {106, 108}}},
	         {110, 100}},
	        {0x33,
	         {{{97, 100}, {88, 100}, {85, 103}, {88, 106}, {97, 106}, {92, 100}, {92, 106}}},
	         {100, 110}},
	        {0x53,
	         {{{100, 97}, {100, 88}, {97, 85}, {94, 88}, {94, 97}, {100, 92}, {94, 92}}},
	         {90, 100}},
	        {0x73,
	         {{{103, 100}, {112, 100}, {115, 97}, {112, 94}, {103, 94}, {108, 100}, {108, 94}}},
	         {100, 90}},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.attr);
		SetUp();
		stroke_at(100, 100, 'A', c.attr);
		const auto &p = c.points;
		Records want = {blue,
		                G(p[0][0], p[0][1]),
		                D(p[1][0], p[1][1]),
		                D(p[2][0], p[2][1]),
		                D(p[3][0], p[3][1]),
		                D(p[4][0], p[4][1]),
		                G(p[5][0], p[5][1]),
		                D(p[6][0], p[6][1])};
		EXPECT_EQ(stored(), want);
		EXPECT_EQ(gx1, c.pen[0]);
		EXPECT_EQ(gy1, c.pen[1]);
		EXPECT_EQ(current_color, 2);
	}
}

TEST_F(Stroker, SizeTwoIsOnePlotUnitPerGridStep)
{
	stroke_at(100, 100, 'A', 0x0A);
	Records want = {G(100, 102), D(100, 108), D(102, 110), D(104, 108),
	                D(104, 102), G(100, 105), D(104, 105)};
	EXPECT_EQ(stored(), want);
	EXPECT_EQ(gx1, 107);
	EXPECT_EQ(gy1, 100);
}

TEST_F(Stroker, SizeZeroCollapsesOntoThePen)
{
	stroke_at(100, 100, 'A', 0x00);
	Records want = {white,       G(100, 100), D(100, 100), D(100, 100),
	                D(100, 100), D(100, 100), G(100, 100), D(100, 100)};
	EXPECT_EQ(stored(), want);
	EXPECT_EQ(gx1, 100);
	EXPECT_EQ(gy1, 100);
}

TEST_F(Stroker, SpaceDelAndEveryCodeOutsideTheFontMakeOneMove)
{
	std::vector<uint16_t> codes = {' ', 127};
	for (uint16_t c = 0; c < 32; c++)
		codes.push_back(c);
	for (uint16_t c = 128; c < 256; c++)
		codes.push_back(c);
	for (uint16_t c : codes) {
		SCOPED_TRACE(c);
		SetUp();
		stroke_at(100, 100, c, 0x0A);
		EXPECT_EQ(stored(), Records{G(102, 102)});
		EXPECT_EQ(gx1, 107);
		EXPECT_EQ(gy1, 100);
	}
}

TEST_F(Stroker, LeftOfZeroLandsOnTheFarEdgeAndThePenWraps)
{
	stroke_at(2, 50, 'A', 0x4A);
	Records want = {G(2, 48), D(2, 42), D(0, 40), D(1023, 42), D(1023, 48), G(2, 45), D(1023, 45)};
	EXPECT_EQ(stored(), want);
	EXPECT_EQ(gx1, 65531);
	EXPECT_EQ(gy1, 50);
}

TEST_F(Stroker, SumsAreCutToSixteenBitsBeforeTheClamp)
{
	stroke_at(65532, 100, '-', 0x0A);
	EXPECT_EQ(stored(), (Records{G(1023, 106), D(0, 106)}));
	EXPECT_EQ(gx1, 3);
}

TEST_F(Stroker, BeyondTheRightEdgeEverythingLandsOn1023)
{
	stroke_at(1020, 100, 'A', 0x0F);
	Records want = {G(1020, 107), D(1020, 128), D(1023, 135), D(1023, 128),
	                D(1023, 107), G(1020, 118), D(1023, 118)};
	EXPECT_EQ(stored(), want);
	ASSERT_EQ(gx1, 1044);

	int32_t first = nCommands;
	CharacterStroker('A', 0x0F);
	Records next = stored(first);
	ASSERT_EQ(next.size(), 7u);
	for (size_t i = 0; i < next.size(); i++) {
		EXPECT_EQ(next[i].p1, 1023) << i;
		EXPECT_EQ(next[i].p2, want[i].p2) << i;
	}
	EXPECT_EQ(gx1, 1068);
}

TEST_F(Stroker, ColourRecordOnlyWhenTheIndexChanges)
{
	stroke_at(100, 100, 'A', 0x13);
	CharacterStroker('B', 0x13);
	CharacterStroker('8', 0x13);
	Records all = stored();
	ASSERT_EQ(all.size(), 1u + 7 + 14 + 17);
	EXPECT_EQ(all[0], blue);
	for (size_t i = 1; i < all.size(); i++)
		EXPECT_NE(all[i].kind, CMD_COLOR) << i;

	CharacterStroker('A', 0x0B);  // back to red: one record again
	EXPECT_EQ(command[all.size()], red);
	EXPECT_EQ(nCommands, (int32_t)all.size() + 8);
}

TEST_F(Stroker, ScaledOffsetsAndAdvancePerSize)
{
	// Plot units for grid rows 0..11; columns 0..4 scale the same way.
	static const int32_t scaled[8][12] = {
	        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},         {0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6},
	        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},       {0, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17},
	        {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22},  {0, 3, 5, 8, 10, 13, 15, 18, 20, 23, 25, 28},
	        {0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 33}, {0, 4, 7, 11, 14, 18, 21, 25, 28, 32, 35, 39},
	};
	static const uint16_t advance[8] = {0, 3, 7, 10, 14, 17, 21, 24};

	for (int32_t size = 0; size < 8; size++) {
		for (int32_t col = 0; col < 5; col++) {
			for (int32_t row = 0; row < 12; row++) {
				for (int32_t up = 0; up < 2; up++) {
					const int32_t point[] = {col + 8 * up, row, -1};
					cptr = point;
					ASSERT_EQ(getxy(size, 0), up);
					ASSERT_EQ(xx, scaled[size][col]) << size << " " << col;
					ASSERT_EQ(yy, scaled[size][row]) << size << " " << row;
				}
			}
		}
		// Rotations 0..3 write right, up, left, down.
		const int dx[4] = {1, 0, -1, 0};
		const int dy[4] = {0, 1, 0, -1};
		for (int rot = 0; rot < 4; rot++) {
			stroke_at(500, 500, 'X', (uint16_t)(rot << 5 | size));
			EXPECT_EQ(gx1, 500 + dx[rot] * advance[size]) << size << " " << rot;
			EXPECT_EQ(gy1, 500 + dy[rot] * advance[size]) << size << " " << rot;
		}
	}
}

// Exact-size heap copies, so ASan reports any read past the -1.
TEST_F(Stroker, GetxyStopsAtTheTerminatorAndReadsNothingBeyondIt)
{
	for (char c : {' ', '8', '@'}) {
		SCOPED_TRACE(c);
		const int32_t *glyph = cptrs[c - 32];
		size_t len = 1;
		while (glyph[len - 1] >= 0)
			len += 2;
		std::unique_ptr<int32_t[]> copy(new int32_t[len]);
		std::copy(glyph, glyph + len, copy.get());

		cptr = copy.get();
		size_t points = 0;
		while (getxy(2, 0) != -1)
			points++;
		EXPECT_EQ(points, (len - 1) / 2);
		EXPECT_EQ(cptr, copy.get() + len);

		SetUp();
		dr_char(100, 100, 2, 0, 1, copy.get());
		EXPECT_EQ(nCommands, (int32_t)points);
	}
}

TEST_F(CharacterWords, DrawAfterACharacterContinuesItsLastStroke)
{
	for (uint16_t w : {0x8100, 0x0064, 0x34C8, 0x412C, 0x4590, 0x830A, 0x8441, 0x45F4})
		Parse(w);
	Records want = {blue,        G(100, 200), D(300, 200), D(300, 400), red,
	                G(300, 402), D(300, 408), D(302, 410), D(304, 408), D(304, 402),
	                G(300, 405), D(304, 405), D(307, 500)};
	EXPECT_EQ(stored(), want);
	EXPECT_EQ(gx1, 307);
	EXPECT_EQ(gy1, 500);
}

// The stroker makes no capacity check of its own: the records past the last
// row are counted, not stored, and the framer sees the overflow afterwards.
TEST_F(CharacterWords, CharacterAtTheEndOfTheListCountsEveryRecord)
{
	Parse(0x0064);
	Parse(0x0464);
	Parse(0x8313);
	nCommands = max_commands - 3;
	command[max_commands - 1] = {0, 0, 0};
	Parse(0x8441);
	EXPECT_EQ(nCommands, max_commands - 3 + 8);
	EXPECT_EQ(command[max_commands - 3], blue);
	EXPECT_EQ(command[max_commands - 2], G(100, 103));
	EXPECT_EQ(command[max_commands - 1], D(100, 112));
	EXPECT_EQ(current_color, 2);
	EXPECT_EQ(gx1, 110);
}
