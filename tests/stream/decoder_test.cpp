#include <vector>

#include <gtest/gtest.h>

#include "display/display_list.h"
#include "stream/decoder.h"
#include "stream/words.h"

extern "C" size_t firmware_frame(uint8_t *out);  // words_c99.c

namespace
{

struct Rec {
	uint16_t kind, p1, p2;
	bool operator==(const Rec &o) const { return kind == o.kind && p1 == o.p1 && p2 == o.p2; }
};

std::ostream &operator<<(std::ostream &os, const Rec &r)
{
	return os << "{" << r.kind << "," << r.p1 << "," << r.p2 << "}";
}

std::vector<Rec> records(int from = 0)
{
	std::vector<Rec> out;
	for (int i = from; i < nCommands; i++)
		out.push_back({command[i].kind,
		               command[i].kind == CMD_END_FRAME ? uint16_t(0) : command[i].p1,
		               command[i].kind == CMD_END_FRAME ? uint16_t(0) : command[i].p2});
	return out;
}

const Rec red{CMD_COLOR, 0x0000, 0x00FF};
const Rec blue{CMD_COLOR, 0x00FF, 0x0000};
const Rec black{CMD_COLOR, 0x0000, 0x0000};
const Rec end_frame{CMD_END_FRAME, 0, 0};
Rec go(uint16_t x, uint16_t y)
{
	return {CMD_GOTO, x, y};
}
Rec dr(uint16_t x, uint16_t y)
{
	return {CMD_DRAW, x, y};
}

class Decoder : public ::testing::Test
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

TEST_F(Decoder, WorkedSequenceFromProgramStart)
{
	Parse(0x8100);
	EXPECT_EQ(nCommands, 0);
	Parse(0x0064);
	EXPECT_EQ(gx1, 100);
	EXPECT_EQ(nCommands, 0);
	Parse(0x34C8);
	EXPECT_EQ(gy1, 200);
	Parse(0x412C);
	Parse(0x4590);
	EXPECT_EQ(records(), (std::vector<Rec>{blue, go(100, 200), dr(300, 200), dr(300, 400)}));

	Parse(0x830A);
	EXPECT_EQ(CharacterAttributes, 0x0A);
	Parse(0x8441);  // 'A', size 2, red, from (300, 400)
	EXPECT_EQ(records(4), (std::vector<Rec>{red, go(300, 402), dr(300, 408), dr(302, 410), dr(304, 408),
	                                        dr(304, 402), go(300, 405), dr(304, 405)}));
	EXPECT_EQ(gx1, 307);
	EXPECT_EQ(gy1, 400);

	Parse(0x8200);
	EXPECT_EQ(sw_wait, 1);
	EXPECT_EQ(records(12), std::vector<Rec>{end_frame});

	Parse(0x3864);
	EXPECT_EQ(gx1, 100);
	EXPECT_EQ(records(13), (std::vector<Rec>{black, go(100, 400)}));
}

TEST_F(Decoder, ColourFieldOfSetAndDrawWordsIsDontCare)
{
	Parse(0x1864);
	EXPECT_EQ(gx1, 100);
	EXPECT_EQ(nCommands, 0);

	Parse(0x5C64);
	gx1 = 0;
	Parse(0x4464);
	EXPECT_EQ(records(), (std::vector<Rec>{dr(100, 100), dr(0, 100)}));
	EXPECT_EQ(current_color, 1);  // draws carry no colour
}

TEST_F(Decoder, OperandsOfClearEndAndAttributes)
{
	Parse(0x2005);
	Parse(0x81FF);
	EXPECT_EQ(nCommands, 0);
	Parse(0x82AB);
	EXPECT_EQ(sw_wait, 1);
	EXPECT_EQ(records(), std::vector<Rec>{end_frame});
	Parse(0x83FF);
	EXPECT_EQ(CharacterAttributes, 0x7F);
}

TEST_F(Decoder, WordsWithoutMeaningChangeNothing)
{
	Parse(0x0123);
	Parse(0x0456);
	Parse(0x8315);
	Parse(0x3005);  // a blue move, so the tracker is not at its start value
	const std::vector<Rec> before = records();
	auto ignored = [](uint32_t w) {
		return (w >= 0x6000 && w <= 0x7FFF) || (w >= 0x8000 && w <= 0x80FF) || w >= 0x8500;
	};
	for (uint32_t w = 0; w <= 0xFFFF; w++) {
		if (!ignored(w))
			continue;
		Parse((uint16_t)w);
		if (nCommands != (int)before.size() || gx1 != 5 || gy1 != 0x056 ||
		    CharacterAttributes != 0x15 || sw_wait != 0 || current_color != 2) {
			ADD_FAILURE() << "word 0x" << std::hex << w << " changed the state";
			break;
		}
	}
	EXPECT_EQ(records(), before);
}

TEST_F(Decoder, TwoEndOfFrameWordsAppendTwoRecords)
{
	Parse(0x8200);
	sw_wait = 0;
	Parse(0x8200);
	EXPECT_EQ(sw_wait, 1);
	EXPECT_EQ(records(), (std::vector<Rec>{end_frame, end_frame}));
}

TEST_F(Decoder, ClearLeavesThePenSoADrawStartsNoNewLine)
{
	Parse(0x0010);
	Parse(0x2420);  // move to (16, 32)
	Parse(0x8100);
	Parse(0x4040);  // draw with x = 64
	EXPECT_EQ(records(), std::vector<Rec>{dr(64, 32)});
}

TEST_F(Decoder, ZeroLengthDrawStillRecords)
{
	Parse(0x2800 | 7);  // a red move
	Parse(0x4000 | 7);
	EXPECT_EQ(records(), (std::vector<Rec>{go(7, 0), dr(7, 0)}));
}

TEST_F(Decoder, PenAdvancedPastTheEdgeIsRecordedClamped)
{
	gx1 = 1020;
	Parse(0x8307);  // size 7, colour 0, rotation 0
	Parse(0x8420);  // a space: advance 24
	EXPECT_EQ(gx1, 1044);
	int from = nCommands;
	Parse(0x4400 | 9);  // draw on the other axis
	EXPECT_EQ(records(from), std::vector<Rec>{dr(1023, 9)});
	EXPECT_EQ(gx1, 1044);

	gx1 = 3;
	Parse(0x8347);  // size 7, rotation 2: writing runs left
	Parse(0x8420);
	EXPECT_EQ(gx1, (uint16_t)(3 - 24));
	from = nCommands;
	Parse(0x4400 | 9);
	EXPECT_EQ(records(from), std::vector<Rec>{dr(1023, 9)});
}

TEST_F(Decoder, CharacterThenDrawContinuesTheLastStrokeInTheCharactersColour)
{
	Parse(0x0000 | 100);
	Parse(0x0400 | 100);
	Parse(0x8312);        // size 2, colour 2 (blue)
	Parse(0x844C);        // 'L': move (0,10), draw (0,2), draw (4,2)
	Parse(0x4400 | 300);  // draw with y = 300 from the glyph's last point
	EXPECT_EQ(records(),
	          (std::vector<Rec>{blue, go(100, 110), dr(100, 102), dr(104, 102), dr(107, 300)}));
	EXPECT_EQ(current_color, 2);
}

// stream/words.h against the decoder: what a board encodes is what the
// display draws.
// Out-of-range fields are chosen so that, unmasked, they would spill into
// the opcode and turn the word into another instruction or an ignored one.
TEST_F(Decoder, EncodedWordsDecodeToTheirInstructionsWithFieldsMasked)
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
TEST_F(Decoder, FirmwareWritersPutTheSyncPairThenWordsHighByteFirst)
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
