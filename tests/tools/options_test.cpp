// What the program and every tool answer without any input: --help and
// --version, and a failure to write them.
#include <sys/wait.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace
{

using namespace support;

const std::vector<std::string> programs = {VELMORA_BINARY, VELMORA_DECODE,  VELMORA_ENCODE, VELMORA_SNAP,
                                           VELMORA_DEMO,   VELMORA_INSPECT, VELMORA_SERVE};

struct Outcome {
	int status;
	std::string out, err;
};

// With standard output on /dev/full when full is set.
Outcome run(const std::string &program, const std::string &option, bool full = false)
{
	Child c(full ? std::vector<std::string>{"/bin/sh", "-c", "exec \"$0\" \"$1\" > /dev/full", program,
	                                        option}
	             : std::vector<std::string>{program, option});
	int ws = 0;
	EXPECT_TRUE(c.wait_exit(&ws)) << program;
	return {WIFEXITED(ws) ? WEXITSTATUS(ws) : -1, c.out(), c.err()};
}

TEST(EveryProgram, SaysItsVersion)
{
	for (const std::string &p : programs) {
		Outcome r = run(p, "--version");
		EXPECT_EQ(r.status, 0) << p;
		EXPECT_EQ(r.out, fs::path(p).filename().string() + " " VELMORA_VERSION "\n") << p;
	}
}

TEST(EveryProgram, AnswerThatCannotBeWrittenIsAFailure)
{
	for (const std::string &p : programs)
		for (const char *option : {"--help", "--version"}) {
			Outcome r = run(p, option, true);
			EXPECT_NE(r.status, 0) << p << " " << option;
			EXPECT_NE(r.err.find("No space left on device"), std::string::npos)
			        << p << ": " << r.err;
		}
}

// The README's table of variables names every one that velmora --help does.
TEST(EveryProgram, ReadmeListsEveryVariableOfTheHelp)
{
	const std::string help = run(VELMORA_BINARY, "--help").out;
	const std::string readme = read_file(std::string(VELMORA_SOURCE_DIR) + "/README.md");
	int found = 0;
	for (size_t at = help.find("VELMORA_"); at != std::string::npos; at = help.find("VELMORA_", at + 1)) {
		size_t end = help.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ_", at);
		const std::string name = help.substr(at, end - at);
		EXPECT_NE(readme.find("| `" + name + "` |"), std::string::npos) << name;
		found++;
	}
	EXPECT_GE(found, 8);
}

}  // namespace
