#include <cstring>

#include <gtest/gtest.h>

#include "display/display_list.h"
#include "display/renderer.h"
#include "tests/doubles/gl_double.h"

namespace
{

class Renderer : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		ClearList();
		sw_wait = 0;
		gl_calls.clear();
	}
	static void put(uint16_t kind, uint16_t p1 = 0, uint16_t p2 = 0)
	{
		command[nCommands++] = {kind, p1, p2};
	}
};

bool same_bits(float a, float b)
{
	return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(PlotMapping, WorkedValuesComeOutBitForBit)
{
	EXPECT_TRUE(same_bits(plot_map(0, 1023), -0.960598528f));
	EXPECT_TRUE(same_bits(plot_map(1, 1023), -0.958718717f));
	EXPECT_TRUE(same_bits(plot_map(511, 1023), 0.0f));
	EXPECT_TRUE(same_bits(plot_map(1022, 1023), 0.960598528f));
	EXPECT_TRUE(same_bits(plot_map(1023, 1023), 0.962478399f));
}

TEST_F(Renderer, EmptyListClearsSetsRedAndFlushesWithoutSwapping)
{
	sw_wait = 1;
	Display();
	EXPECT_EQ(gl_trace(), "glClear(16384)\nglColor3f(1,0,0)\nglFlush()\n");
	EXPECT_EQ(sw_wait, 1);
}

TEST_F(Renderer, EndFrameRecordPresentsAndReleasesTheFramer)
{
	put(CMD_END_FRAME);
	sw_wait = 1;
	Display();
	EXPECT_EQ(gl_trace(), "glClear(16384)\nglColor3f(1,0,0)\nglFlush()\nglutSwapBuffers()\nglFlush()\n");
	EXPECT_EQ(sw_wait, 0);
}

TEST_F(Renderer, LineFromCornerToCornerIsOneRedStrip)
{
	put(CMD_GOTO, 0, 0);
	put(CMD_DRAW, 1023, 1023);
	put(CMD_END_FRAME);
	Display();
	EXPECT_EQ(gl_trace(), "glClear(16384)\nglColor3f(1,0,0)\n"
	                      "glBegin(3)\nglVertex2f(-0.960598528,-0.960598528)\n"
	                      "glVertex2f(0.962478399,0.962478399)\nglEnd()\n"
	                      "glFlush()\nglutSwapBuffers()\nglFlush()\n");
}

TEST_F(Renderer, TwoFramesSwapTwiceWithoutAClearBetween)
{
	put(CMD_GOTO, 511, 511);
	put(CMD_END_FRAME);
	put(CMD_GOTO, 511, 511);
	put(CMD_DRAW, 511, 511);
	put(CMD_END_FRAME);
	sw_wait = 1;
	Display();
	EXPECT_EQ(gl_trace(),
	          "glClear(16384)\nglColor3f(1,0,0)\n"
	          "glBegin(3)\nglVertex2f(0,0)\nglEnd()\nglFlush()\nglutSwapBuffers()\n"
	          "glBegin(3)\nglVertex2f(0,0)\nglVertex2f(0,0)\nglEnd()\nglFlush()\nglutSwapBuffers()\n"
	          "glFlush()\n");
	EXPECT_EQ(sw_wait, 0);
}

TEST_F(Renderer, DrawsWithNoOpenStripDrawNothing)
{
	put(CMD_DRAW, 1, 1);
	put(CMD_DRAW, 2, 2);
	put(CMD_GOTO, 511, 511);
	put(CMD_END_FRAME);
	put(CMD_DRAW, 3, 3);  // the end of frame closed the strip
	Display();
	EXPECT_EQ(gl_trace(), "glClear(16384)\nglColor3f(1,0,0)\n"
	                      "glBegin(3)\nglVertex2f(0,0)\nglEnd()\nglFlush()\nglutSwapBuffers()\n"
	                      "glFlush()\n");
}

TEST_F(Renderer, UnknownKindsLeaveTheStripOpen)
{
	put(CMD_GOTO, 511, 511);
	put(0, 7, 7);
	put(CMD_DRAW, 511, 511);
	put(5, 7, 7);
	put(0xFFFF, 7, 7);
	put(CMD_DRAW, 511, 511);
	Display();
	EXPECT_EQ(gl_trace(), "glClear(16384)\nglColor3f(1,0,0)\n"
	                      "glBegin(3)\nglVertex2f(0,0)\nglVertex2f(0,0)\nglVertex2f(0,0)\nglEnd()\n"
	                      "glFlush()\n");
}

TEST_F(Renderer, ColourRecordDecodesBytesOverTwoHundredFiftySix)
{
	put(CMD_COLOR, 0x00FF, 0xFFFF);
	put(CMD_COLOR, 0x0120, 0x8040);  // high byte of p1 plays no part
	put(CMD_GOTO, 511, 511);
	put(CMD_COLOR, 0x00FF, 0x0000);  // a colour inside a strip does not close it
	put(CMD_DRAW, 511, 511);
	Display();
	EXPECT_EQ(gl_trace(),
	          "glClear(16384)\nglColor3f(1,0,0)\n"
	          "glColor3f(0.99609375,0.99609375,0.99609375)\n"
	          "glColor3f(0.25,0.5,0.125)\n"
	          "glBegin(3)\nglVertex2f(0,0)\nglColor3f(0,0,0.99609375)\nglVertex2f(0,0)\nglEnd()\n"
	          "glFlush()\n");
}

TEST_F(Renderer, NeverWalksPastTheTable)
{
	for (int i = 0; i < max_commands; i++)
		put(CMD_DRAW, 1, 1);
	nCommands = max_commands + 18;  // an overflowing word counts past the end
	Display();
	EXPECT_EQ(gl_calls.size(), 3u);
}

TEST_F(Renderer, PassIsAskedForOnlyWhenItCanChangeTheWindow)
{
	Display();
	EXPECT_FALSE(PassNeeded(false));
	GoTo(1, 0, 0);
	EXPECT_TRUE(PassNeeded(false));  // drawn straight into the window
	EXPECT_FALSE(PassNeeded(true));  // nothing is swapped before an end of frame
	Display();
	ClearList();
	GoTo(1, 5, 5);  // as many records as before, but another list
	EXPECT_TRUE(PassNeeded(false));
	sw_wait = 1;
	EndFrame();
	EXPECT_TRUE(PassNeeded(true));
	Display();
	EXPECT_FALSE(PassNeeded(true));
	EXPECT_FALSE(PassNeeded(false));
}

TEST_F(Renderer, ProjectionKeepsTheBottomAtMinusOneAndThePlotUnstretched)
{
	struct {
		int w, h;
		double top;
	} cases[] = {{664, 498, 0.5}, {1024, 768, 0.5}, {800, 800, 1.0}, {498, 664, 1.6666666666666665}};
	for (auto c : cases) {
		SCOPED_TRACE(c.w);
		gl_calls.clear();
		resizeWindow(c.w, c.h);
		ASSERT_EQ(gl_calls.size(), 4u);
		EXPECT_EQ(gl_calls[0].name, "glViewport");
		EXPECT_EQ(gl_calls[0].args, (std::vector<double>{0, 0, (double)c.w, (double)c.h}));
		EXPECT_EQ(gl_calls[1].name, "glMatrixMode");
		EXPECT_EQ(gl_calls[1].args, std::vector<double>{5889});  // GL_PROJECTION
		EXPECT_EQ(gl_calls[2].name, "glLoadIdentity");
		EXPECT_EQ(gl_calls[3].name, "gluOrtho2D");
		EXPECT_EQ(gl_calls[3].args, (std::vector<double>{-1.0, 1.0, -1.0, c.top}));
	}
}

TEST_F(Renderer, ZeroSizeKeepsThePreviousProjection)
{
	resizeWindow(0, 498);
	resizeWindow(664, 0);
	resizeWindow(0, 0);
	EXPECT_EQ(gl_trace(), "glViewport(0,0,0,498)\nglViewport(0,0,664,0)\nglViewport(0,0,0,0)\n");
}

}  // namespace
