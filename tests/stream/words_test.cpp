// stream/words.h against the display's own decoder: what a board encodes is
// what the display draws.
#include "stream/words.h"

#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "display/display_list.h"
#include "stream/decoder.h"

extern "C" size_t firmware_frame(uint8_t *out);  // words_c99.c

namespace
{

using Rec = std::tuple<int, int, int>;  // kind, p1, p2

std::vector<Rec> records()
{
	std::vector<Rec> out;
	for (int i = 0; i < nCommands; i++) {
		const DisplayRecord &r = command[i];
		out.emplace_back(r.kind, r.kind == CMD_END_FRAME ? 0 : r.p1,
		                 r.kind == CMD_END_FRAME ? 0 : r.p2);
	}
	return out;
}

const Rec red{CMD_COLOR, 0x0000, 0x00FF};
const Rec blue{CMD_COLOR, 0x00FF, 0x0000};
const Rec black{CMD_COLOR, 0x0000, 0x0000};
const Rec end_frame{CMD_END_FRAME, 0, 0};
Rec go(int x, int y)
{
	return {CMD_GOTO, x, y};
}
Rec dr(int x, int y)
{
	return {CMD_DRAW, x, y};
}

class Words : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		ClearList();
		gx1 = gy1 = 0;
		CharacterAttributes = 0;
		sw_wait = 0;
	}
};

// Out-of-range fields are chosen so that, unmasked, they would spill into
// the opcode and turn the word into another instruction or an ignored one.
TEST_F(Words, EachWordDecodesToItsInstructionWithFieldsMasked)
{
	Parse(vw_set_y(200));
	Parse(vw_move_x(2, 100));
	Parse(vw_draw_y(400));
	Parse(vw_draw_x(300));
	Parse(vw_set_x(0x400 | 7));  // not a set y
	EXPECT_EQ(gx1, 7);
	EXPECT_EQ(gy1, 400);
	Parse(vw_set_y(20));
	Parse(vw_move_y(8 | 3, 30));  // black, not an ignored word

	Parse(vw_set_x(300));
	Parse(vw_set_y(400));
	Parse(vw_attributes(vw_attribute_byte(8 | 2, 4 | 1, 4 | 0)));  // size 2, red, upright
	EXPECT_EQ(CharacterAttributes, 0x0A);
	Parse(vw_character(0x100 | 'A'));
	EXPECT_EQ(gx1, 307);
	Parse(vw_end_frame());
	EXPECT_EQ(sw_wait, 1);
	EXPECT_EQ(records(),
	          (std::vector<Rec>{blue, go(100, 200), dr(100, 400), dr(300, 400), black, go(7, 30), red,
	                            go(300, 402), dr(300, 408), dr(302, 410), dr(304, 408), dr(304, 402),
	                            go(300, 405), dr(304, 405), end_frame}));

	Parse(vw_clear());
	EXPECT_EQ(nCommands, 0);
}

// What a board's C firmware puts on the wire, read high byte first.
TEST_F(Words, WritersPutTheSyncPairThenWordsHighByteFirst)
{
	uint8_t bytes[32];
	size_t n = firmware_frame(bytes);
	ASSERT_EQ(n, 14u);
	EXPECT_EQ(bytes[0], 0xFF);
	EXPECT_EQ(bytes[1], 0xFF);
	for (size_t i = 2; i < n; i += 2)
		Parse((uint16_t)(bytes[i] << 8 | bytes[i + 1]));
	EXPECT_EQ(records(), (std::vector<Rec>{blue, go(300, 200), dr(310, 220), end_frame}));
}

}  // namespace
