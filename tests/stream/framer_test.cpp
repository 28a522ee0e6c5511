#include <climits>
#include <deque>
#include <vector>

#include <gtest/gtest.h>

#include "common/platform.h"
#include "display/display_list.h"
#include "stream/decoder.h"
#include "stream/framer.h"
#include "tests/doubles/clock_double.h"
#include "tests/doubles/halt_double.h"

// The framer's byte source for these tests: bytes waiting, in order.
static std::deque<uint8_t> waiting;
static int reads = 0;
static int32_t ms_per_read = 0;  // how far the clock moves with every read

uint16_t drchar()
{
	reads++;
	fake_clock_ms += ms_per_read;
	if (waiting.empty())
		return 0x8000;
	uint8_t b = waiting.front();
	waiting.pop_front();
	return b;
}

namespace
{

class Framer : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		waiting.clear();
		reads = 0;
		ms_per_read = 0;
		state = state_hunting;
		instruction = 0;
		start_time = 0;
		myTime = 0;
		fake_clock_ms = 1000;
		halt_count = 0;
		ClearList();
		gx1 = gy1 = 0;
		CharacterAttributes = 0;
		sw_wait = 0;
	}
	static void send(std::initializer_list<int> bytes)
	{
		for (int b : bytes)
			waiting.push_back((uint8_t)b);
	}
	// One idle call with these bytes waiting.
	static void idle(std::initializer_list<int> bytes = {})
	{
		send(bytes);
		GetInstruction();
	}
};

TEST_F(Framer, ExampleStreamStopsRightAfterTheEndOfFrame)
{
	idle({0xFF, 0xFF, 0x81, 0x00, 0x00, 0x64, 0x34, 0xC8, 0x41, 0x2C, 0x82, 0x00, 0x12, 0x34});
	EXPECT_EQ(sw_wait, 1);
	EXPECT_EQ(nCommands, 4);
	EXPECT_EQ(command[2].kind, CMD_DRAW);
	EXPECT_EQ(command[2].p1, 300);
	EXPECT_EQ(waiting.size(), 2u);  // the rest stays with the reader
	EXPECT_EQ(state, state_high);
}

TEST_F(Framer, PausedFramerReadsNothingThenResumesAtTheWordBoundary)
{
	idle({0xFF, 0xFF, 0x82, 0x00, 0x00, 0x64, 0x44, 0x20});
	ASSERT_EQ(sw_wait, 1);
	reads = 0;
	fake_clock_ms = 900000;
	for (int i = 0; i < 5; i++)
		GetInstruction();
	EXPECT_EQ(reads, 0);
	EXPECT_EQ(start_time, 0);  // the silence timer does not run while paused

	sw_wait = 0;  // the renderer's pass reached the record
	GetInstruction();
	EXPECT_EQ(nCommands, 2);
	EXPECT_EQ(command[1].kind, CMD_DRAW);
	EXPECT_EQ(command[1].p1, 100);
	EXPECT_EQ(command[1].p2, 32);
}

TEST_F(Framer, LoneFFAndItsFollowerAreDropped)
{
	idle({0xFF, 0x81, 0xFF, 0xFF, 0x2C, 0x05});
	EXPECT_EQ(nCommands, 1);  // only the move after the real pair
	EXPECT_EQ(command[0].kind, CMD_GOTO);
	EXPECT_EQ(gy1, 5);
}

TEST_F(Framer, ThirdFFStartsTheFirstWordAndFourthMakesAFiller)
{
	idle({0xFF, 0xFF, 0xFF, 0x81, 0x00});
	EXPECT_EQ(state, state_low);  // 0xFF81 ignored, 00 waits for its low byte
	EXPECT_EQ(instruction, 0x0000);

	state = state_hunting;
	idle({0xFF, 0xFF, 0xFF, 0xFF, 0x2C, 0x05});
	EXPECT_EQ(nCommands, 1);
	EXPECT_EQ(gy1, 5);
}

TEST_F(Framer, PairBetweenWordsIsAFillerButAfterAnOddByteCompletesTheWord)
{
	idle({0xFF, 0xFF, 0x00, 0x10, 0xFF, 0xFF, 0x2C, 0x20});
	EXPECT_EQ(nCommands, 1);
	EXPECT_EQ(gx1, 0x10);
	EXPECT_EQ(gy1, 0x20);

	idle({0x40, 0xFF, 0xFF});  // 0x40FF: draw with x = 0xFF; then a high byte
	EXPECT_EQ(nCommands, 2);
	EXPECT_EQ(gx1, 0xFF);
	EXPECT_EQ(state, state_low);
}

TEST_F(Framer, WordSplitAcrossIdleCallsIsAssembled)
{
	idle({0xFF, 0xFF, 0x2C});
	fake_clock_ms = 2000;
	idle();
	idle();
	idle({0x07});
	EXPECT_EQ(nCommands, 1);
	EXPECT_EQ(gy1, 7);
	EXPECT_EQ(start_time, 2000);  // restarted by the empty read after the byte
}

TEST_F(Framer, SilenceOf3000msDropsSyncAnd2999msDoesNot)
{
	idle({0xFF, 0xFF, 0x2C});  // half a word; the empty read starts the timer at 1000
	EXPECT_EQ(start_time, 1000);
	fake_clock_ms = 3999;
	idle();
	EXPECT_EQ(state, state_low);
	idle({0x07});  // taken as the low byte
	EXPECT_EQ(gy1, 7);

	fake_clock_ms = 5000;
	idle();  // timer restarts at 5000
	fake_clock_ms = 8000;
	idle();
	EXPECT_EQ(state, state_hunting);  // even at a word boundary
	EXPECT_EQ(start_time, 0);
	idle({0x2C, 0x09});  // no pair: dropped
	EXPECT_EQ(nCommands, 1);
	idle({0xFF, 0xFF, 0x2C, 0x09});
	EXPECT_EQ(nCommands, 2);
}

TEST_F(Framer, ClockReadingOfZeroLeavesTheTimerStopped)
{
	fake_clock_ms = 0;
	idle({0xFF, 0xFF});
	idle();
	EXPECT_EQ(start_time, 0);
	fake_clock_ms = 1;
	idle();
	EXPECT_EQ(start_time, 1);
}

TEST_F(Framer, SilenceIsMeasuredAcrossTheWrapOfTheClock)
{
	fake_clock_ms = INT32_MAX - 1000;
	idle({0xFF, 0xFF});
	fake_clock_ms = INT32_MIN + 1998;  // 2999 ms later
	idle();
	EXPECT_EQ(state, state_high);
	fake_clock_ms = INT32_MIN + 1999;  // 3000 ms later
	idle();
	EXPECT_EQ(state, state_hunting);
}

TEST_F(Framer, ByteWaitingAfterALongStallIsTakenInTheCurrentState)
{
	idle({0xFF, 0xFF, 0x2C});
	fake_clock_ms = 100000;  // idle calls were held up; the byte is already there
	idle({0x03});
	EXPECT_EQ(gy1, 3);
	EXPECT_EQ(state, state_high);
}

TEST_F(Framer, ReturnForLackOfTimeKeepsEverythingAndIsNoSilence)
{
	send({0x00, 0xFF, 0xFF});  // a dropped byte, then the pair
	for (int i = 0; i < 500; i++)
		send({0x40, 0x05});
	ms_per_read = 1;  // a stream that never pauses
	GetInstruction();
	EXPECT_EQ(sw_time_up, 1);
	EXPECT_LT(reads, 300);        // came up for air early
	EXPECT_EQ(state, state_low);  // a word in hand, kept
	EXPECT_EQ(start_time, 0);     // not taken for silence
	EXPECT_EQ(nCommands, (reads - 3) / 2);

	ms_per_read = 0;
	GetInstruction();
	EXPECT_EQ(sw_time_up, 0);
	EXPECT_EQ(nCommands, 500);  // nothing lost or doubled
	EXPECT_EQ(waiting.size(), 0u);
}

TEST_F(Framer, OverflowHaltsAbove50000AndNotAt50000)
{
	idle({0xFF, 0xFF});
	nCommands = max_commands - 1;
	testing::internal::CaptureStdout();
	idle({0x40, 0x01});  // one draw: 50000 records
	EXPECT_EQ(halt_count, 0);
	EXPECT_EQ(nCommands, 50000);
	try {
		idle({0x40, 0x02, 0x40, 0x03});
		ADD_FAILURE() << "no halt";
	} catch (const Halted &) {
	}
	EXPECT_EQ(testing::internal::GetCapturedStdout(), "too many commands\nclose window to exit\n");
	EXPECT_EQ(halt_count, 1);
	EXPECT_EQ(waiting.size(), 2u);  // nothing read after the halting word
}

TEST_F(Framer, FillerWordsAreCheckedForOverflowToo)
{
	idle({0xFF, 0xFF});
	nCommands = max_commands + 1;
	testing::internal::CaptureStdout();
	idle({0xFF});  // the first byte of a word is not checked
	EXPECT_EQ(halt_count, 0);
	EXPECT_THROW(idle({0xFF}), Halted);
	testing::internal::GetCapturedStdout();
}

TEST_F(Framer, ImpossibleStateHalts)
{
	state = 7;
	testing::internal::CaptureStdout();
	EXPECT_THROW(idle({0x00}), Halted);
	EXPECT_EQ(testing::internal::GetCapturedStdout(), "state machine error\nclose window to exit\n");
}

}  // namespace
