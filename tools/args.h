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
