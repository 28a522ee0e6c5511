// The command line of every tool: its options read one way, --help and
// --version answered, a command line it cannot take said one way.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Writes text to standard output.  A write that fails (a full disk, a
// closed pipe) is an error like any other: said on stderr, exit status 2.
int answer(const char *tool, const char *text);

// "velmora-decode 1.1.0\n", the project's version.
int answer_version(const char *tool);

// "TOOL: WHAT" and where to look, on stderr; exit status 2.
int usage_error(const char *tool, const std::string &what);

// "TOOL: WHAT" on stderr; the status given.
int fail(const char *tool, const std::string &what, int status = 2);

struct Option {
	const char *name;        // "--frame"
	const char *alias;       // "-o" for "--output", or nullptr
	bool sw_value;           // takes the next argument as its value
	const char *value_name;  // with a value: "FILE" says "option '-o' needs a FILE";
	                         // nullptr says "missing value after '--frame'"
	const char *once;        // given twice is bad usage, said so ("more than one output"); or nullptr
	std::function<int(const char *value)> take;  // -1 to go on, else the exit status, said
};

// An option whose value is kept in *to (value_name, once: as above).
Option value_option(const char *name, const char *alias, const char *value_name, const char *once,
                    const char **to);
// An option that sets *sw to `to`.
Option switch_option(const char *name, bool *sw, bool to);

struct CommandLine {
	const char *tool;
	const char *usage;  // the --help text
	std::vector<Option> options;
	// One INPUT may be named: "-" alone is one, "--" ends the options.
	// Without, every argument is an option.
	bool sw_input;
	const char *unknown = "unknown option";  // said of what is not an option
};

// Reads argv left to right, -h/--help and --version answered where they
// stand.  *input, nullptr at the call, is set to the INPUT named, if any.
// Returns -1 for the tool to go on, else its exit status: an answer given
// or bad usage said.
int read_command_line(const CommandLine &c, int argc, char **argv, const char **input);
