// What every tool answers before it reads any input: --help, --version and
// a command line it cannot take.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

// Writes text to standard output.  A write that fails (a full disk, a
// closed pipe) is an error like any other: said on stderr, exit status 2.
inline int answer(const char *tool, const char *text)
{
	if (fputs(text, stdout) >= 0 && fflush(stdout) == 0)
		return 0;
	fprintf(stderr, "%s: write error: %s\n", tool, strerror(errno));
	return 2;
}

// "velmora-decode 1.1.0\n", the project's version.
inline int answer_version(const char *tool)
{
	char text[64];
	snprintf(text, sizeof text, "%s %s\n", tool, VELMORA_VERSION);
	return answer(tool, text);
}

// Standard output set aside for the tool's output alone: with to_stdout,
// *fd is a descriptor of it (a terminal will not take the `what`); in
// every case standard output then goes to standard error, so that all the
// tool says on the way, the framer's "too many commands" among it, stays
// out of the output.  False with *why when it cannot be.
inline bool set_aside_stdout(bool to_stdout, const char *what, int *fd, std::string *why)
{
	*fd = -1;
	if (to_stdout) {
		if (isatty(STDOUT_FILENO)) {
			*why = std::string("will not write a ") + what +
			       " to a terminal; give -o FILE or redirect it";
			return false;
		}
		*fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
		if (*fd < 0) {
			*why = std::string("standard output: ") + strerror(errno);
			return false;
		}
	}
	fflush(stdout);
	dup2(STDERR_FILENO, STDOUT_FILENO);
	return true;
}

// "velmora-encode: WHAT" and where to look, on stderr; exit status 2.
inline int usage_error(const char *tool, const std::string &what)
{
	fprintf(stderr, "%s: %s\nTry '%s --help'.\n", tool, what.c_str(), tool);
	return 2;
}

// The command line of a tool that reads one INPUT and writes to -o OUTPUT:
// the input and the options in any order, "--" ending the options, "-"
// alone an input (standard input), -h/--help and --version answered at
// once.  velmora-encode and velmora-inspect read theirs so.
#pragma once

struct ToolArgs {
	const char *tool;     // names the tool in every message
	const char *usage;    // the --help text
	const char *output;   // what -o is given: "FILE" in "option '-o' needs a FILE"
	bool sw_output_long;  // --output is -o too
	bool sw_one_output;   // a second -o is bad usage; else the last one counts
};

// *input and *output, nullptr at the call, are set to what the command
// line names, if anything.  Returns -1 for the tool to go on, else its exit
// status: --help or --version answered, or the bad usage said.
int read_args(const ToolArgs &t, int argc, char **argv, const char **input, const char **output);
