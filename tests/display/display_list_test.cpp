#include <gtest/gtest.h>

#include "display/display_list.h"

namespace
{

class DisplayList : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		ClearList();
		sw_wait = 0;
	}
};

void expect_record(int row, uint16_t kind, uint16_t p1, uint16_t p2)
{
	SCOPED_TRACE(row);
	EXPECT_EQ(command[row].kind, kind);
	EXPECT_EQ(command[row].p1, p1);
	EXPECT_EQ(command[row].p2, p2);
}

TEST_F(DisplayList, ClampsHighValuesToTheFarEdgeWithNoLowerBound)
{
	GoTo(1, 1024, 2000);
	Draw(65535, 0);
	Draw(1023, 1023);
	Draw(0, 65535);
	ASSERT_EQ(nCommands, 4);
	expect_record(0, CMD_GOTO, 1023, 1023);
	expect_record(1, CMD_DRAW, 1023, 0);
	expect_record(2, CMD_DRAW, 1023, 1023);
	expect_record(3, CMD_DRAW, 0, 1023);
}

TEST_F(DisplayList, ColourRecordOnlyWhenIndexChanges)
{
	GoTo(1, 10, 20);  // red is already in force
	ASSERT_EQ(nCommands, 1);
	expect_record(0, CMD_GOTO, 10, 20);

	GoTo(0, 1, 2);
	GoTo(0, 3, 4);
	ASSERT_EQ(nCommands, 4);
	expect_record(1, CMD_COLOR, 0x00FF, 0xFFFF);
	expect_record(2, CMD_GOTO, 1, 2);
	expect_record(3, CMD_GOTO, 3, 4);
	EXPECT_EQ(current_color, 0);
}

TEST_F(DisplayList, OnlyTheLowTwoColourBitsCount)
{
	const uint16_t p1[4] = {0x00FF, 0x0000, 0x00FF, 0x0000};
	const uint16_t p2[4] = {0xFFFF, 0x00FF, 0x0000, 0x0000};
	for (uint16_t c = 4; c < 8; c++) {
		SCOPED_TRACE(c);
		ClearList();
		current_color = (c + 1) & 3;  // anything but the index wanted
		GoTo(c, 0, 0);
		ASSERT_EQ(nCommands, 2);
		expect_record(0, CMD_COLOR, p1[c & 3], p2[c & 3]);
		EXPECT_EQ(current_color, c & 3);
	}
	ClearList();
	GoTo(5, 0, 0);  // red, already in force
	EXPECT_EQ(nCommands, 1);
}

TEST_F(DisplayList, ClearEmptiesTheListAndReturnsTheTrackerToRed)
{
	GoTo(2, 5, 5);
	Draw(6, 6);
	sw_wait = 1;
	ClearList();
	EXPECT_EQ(nCommands, 0);
	EXPECT_EQ(current_color, 1);
	EXPECT_EQ(sw_wait, 1);  // a clear does not release a waiting frame

	// The renderer starts every pass in red: a blue move after the clear
	// must record its colour again, a red one need not.
	GoTo(2, 7, 7);
	ASSERT_EQ(nCommands, 2);
	expect_record(0, CMD_COLOR, 0x00FF, 0x0000);
	ClearList();
	GoTo(1, 7, 7);
	ASSERT_EQ(nCommands, 1);
	expect_record(0, CMD_GOTO, 7, 7);
}

TEST_F(DisplayList, EndFrameAfterClearIsTheOnlyRecord)
{
	Draw(1, 1);
	ClearList();
	EndFrame();
	ASSERT_EQ(nCommands, 1);
	EXPECT_EQ(command[0].kind, CMD_END_FRAME);
}

TEST_F(DisplayList, NothingIsStoredPastTheLastRowButEveryAppendCounts)
{
	for (int i = 0; i < max_commands - 1; i++)
		Draw(1, 2);
	ASSERT_EQ(nCommands, 49999);

	// A colour-changing move: the colour record takes row 49999, the move
	// itself has no row left.
	GoTo(3, 9, 9);
	EXPECT_EQ(nCommands, 50001);
	EXPECT_EQ(current_color, 3);
	expect_record(49999, CMD_COLOR, 0, 0);
	expect_record(49998, CMD_DRAW, 1, 2);

	Draw(4, 4);
	GoTo(0, 5, 5);
	EndFrame();
	EXPECT_EQ(nCommands, 50005);
	EXPECT_EQ(current_color, 0);  // still tracked past the end
	expect_record(49999, CMD_COLOR, 0, 0);
}

TEST_F(DisplayList, ExactlyFullListHoldsEveryRecord)
{
	for (int i = 0; i < max_commands - 1; i++)
		Draw(1, 2);
	EndFrame();
	EXPECT_EQ(nCommands, 50000);
	EXPECT_EQ(command[49999].kind, CMD_END_FRAME);
	Draw(3, 3);
	EXPECT_EQ(nCommands, 50001);
	EXPECT_EQ(command[49999].kind, CMD_END_FRAME);
}

}  // namespace
