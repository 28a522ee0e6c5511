// velmora-demo, run as the built binary; its stream is read back through
// velmora-decode, the display program's own framer and decoder.
#include <cstdio>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace
{

using namespace support;

TEST(Demo, EveryFrameIsCompleteAndFitsTheList)
{
	TempDir tmp;
	std::string stream = tmp.path() / "demo.bin";
	ASSERT_EQ(run({VELMORA_DEMO, "--frames", "40", "--fps", "100", "--output", stream}).status, 0);
	Outcome records = run({VELMORA_DECODE, "--records", stream});
	ASSERT_EQ(records.status, 0);

	std::istringstream in(records.out);
	std::string line;
	int frames = 0;
	while (std::getline(in, line)) {
		int k, n;
		if (sscanf(line.c_str(), "frame %d records %d", &k, &n) == 2) {
			frames++;
			EXPECT_EQ(k, frames);
			EXPECT_GT(n, 100);
			EXPECT_LT(n, 50000);
		}
		// A picture starts with the clear: the first record of every frame is
		// the box's move, never a leftover of the frame before.
		if (line.rfind("0 ", 0) == 0) {
			EXPECT_EQ(line, "0 COLOR 0 0") << "frame " << frames;
		}
	}
	EXPECT_EQ(frames, 40);
}

TEST(Demo, ReaderGoingAwayEndsItQuietly)
{
	Outcome r = run({"/bin/bash", "-c",
	                 "\"$0\" --fps 100 | head -c 100 > /dev/null; exit ${PIPESTATUS[0]}", VELMORA_DEMO});
	EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace
