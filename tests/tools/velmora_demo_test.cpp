// velmora-demo, run as the built binary; its stream is read back through
// velmora-decode, the display program's own framer and decoder.
#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/files.h"

namespace
{

using namespace support;

int run(const std::string &command)
{
	int status = std::system(command.c_str());
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Demo, EveryFrameIsCompleteAndFitsTheList)
{
	TempDir tmp;
	std::string stream = tmp.path() / "demo.bin", records = tmp.path() / "demo.txt";
	ASSERT_EQ(run(std::string(VELMORA_DEMO) + " --frames 40 --fps 100 --output " + stream), 0);
	ASSERT_EQ(run(std::string(VELMORA_DECODE) + " --records " + stream + " > " + records), 0);

	std::istringstream in(read_file(records));
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

TEST(Demo, HelpAndBadUsage)
{
	EXPECT_EQ(run(std::string(VELMORA_DEMO) + " --help > /dev/null"), 0);
	// A bad value is named, with the range it must lie in.
	TempDir tmp;
	const std::string err = tmp.path() / "err";
	EXPECT_EQ(run(std::string(VELMORA_DEMO) + " --fps 101 2> " + err), 2);
	EXPECT_EQ(read_file(err), "velmora-demo: --fps must be a whole number 0..100, not '101'\n");
	EXPECT_EQ(run(std::string(VELMORA_DEMO) + " --bogus 2> /dev/null"), 2);
	EXPECT_EQ(run(std::string(VELMORA_DEMO) + " --output /nonexistent/dir/x 2> /dev/null"), 2);
}

TEST(Demo, ReaderGoingAwayEndsItQuietly)
{
	EXPECT_EQ(run("bash -c '" + std::string(VELMORA_DEMO) +
	              " --fps 100 | head -c 100 > /dev/null; exit ${PIPESTATUS[0]}'"),
	          0);
}

}  // namespace
