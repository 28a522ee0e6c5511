// What the program and every tool answer without any input: --help and
// --version, a failure to write them, and the command lines they refuse.
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

// With standard output on /dev/full when full is set.
Outcome run(const std::string &program, const std::string &option, bool full = false)
{
	return support::run(full ? std::vector<std::string>{"/bin/sh", "-c", "exec \"$0\" \"$1\" > /dev/full",
	                                                    program, option}
	                         : std::vector<std::string>{program, option});
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

// Every tool's help and the command lines it will not take: status, and
// what it says.  A bad usage leaves standard output empty.
struct Usage {
	std::vector<std::string> argv;
	int status;
	std::string out_has;        // in standard output; "" for none at all
	std::string err_has;        // in standard error
	bool sw_err_whole = false;  // err_has is all of it
};

TEST(EveryTool, HelpAndBadUsage)
{
	const std::string examples = VELMORA_SOURCE_DIR "/examples";
	const std::vector<Usage> cases = {
	        {{VELMORA_DECODE, "--help"}, 0, "usage: velmora-decode", ""},
	        {{VELMORA_DECODE, "--help"}, 0, "--records", ""},
	        {{VELMORA_DECODE, "-h"}, 0, "usage: velmora-decode", ""},
	        {{VELMORA_DECODE, "--frobnicate"}, 2, "", "unknown option '--frobnicate'"},
	        {{VELMORA_DECODE, examples + "/blue_line.bin", examples + "/box_text.bin"},
	         2,
	         "",
	         "more than one input"},
	        {{VELMORA_ENCODE, "--help"}, 0, "usage: velmora-encode", ""},
	        {{VELMORA_ENCODE, "-o"}, 2, "", "option '-o' needs a FILE"},
	        {{VELMORA_ENCODE, "-o", "a", "-o", "b"}, 2, "", "more than one output"},
	        {{VELMORA_SNAP, "-o"}, 2, "", "missing value after '-o'\nTry 'velmora-snap --help'.\n"},
	        {{VELMORA_SNAP, "--frame", "0", "-o", "x.png"},
	         2,
	         "",
	         "--frame needs a frame number from 1, not '0'"},
	        {{VELMORA_SNAP, examples + "/box_text.bin"}, 2, "", "no output: give -o OUT"},
	        {{VELMORA_INSPECT, "-o"}, 2, "", "option '-o' needs a PAGE"},
	        {{VELMORA_INSPECT}, 2, "", "no input: give a STREAM file"},
	        {{VELMORA_DEMO, "--help"}, 0, "usage: velmora-demo", ""},
	        // A bad value is named, with the range it must lie in.
	        {{VELMORA_DEMO, "--fps", "101"},
	         2,
	         "",
	         "velmora-demo: --fps must be a whole number 0..100, not '101'\n",
	         true},
	        {{VELMORA_DEMO, "--clock", "9:30"}, 2, "", "--clock must be a time HH:MM:SS, not '9:30'"},
	        {{VELMORA_DEMO, "--bogus"}, 2, "", "unknown argument '--bogus'"},
	        {{VELMORA_DEMO, "--output", "/nonexistent/dir/x"}, 2, "", "cannot open /nonexistent/dir/x"},
	        {{VELMORA_SERVE, "--listen", "nope"}, 2, "", "--listen needs ADDR:PORT, not 'nope'"},
	        {{VELMORA_SERVE, "stream.bin"}, 2, "", "unknown option 'stream.bin'"},
	};
	for (const Usage &u : cases) {
		Outcome r = support::run(u.argv);
		std::string shown = u.argv[0];
		for (size_t i = 1; i < u.argv.size(); i++)
			shown += " " + u.argv[i];
		EXPECT_EQ(r.status, u.status) << shown << "\n" << r.err;
		if (u.out_has.empty())
			EXPECT_EQ(r.out, "") << shown;
		else
			EXPECT_NE(r.out.find(u.out_has), std::string::npos) << shown << "\n" << r.out;
		if (u.sw_err_whole)
			EXPECT_EQ(r.err, u.err_has) << shown;
		else
			EXPECT_NE(r.err.find(u.err_has), std::string::npos) << shown << "\n" << r.err;
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
