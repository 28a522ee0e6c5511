#include "tools/toolkit/cli.h"

#include <string>

int read_args(const ToolArgs &t, int argc, char **argv, const char **input, const char **output)
{
	bool sw_options_done = false;
	for (int i = 1; i < argc; i++) {
		std::string arg = argv[i];
		if (!sw_options_done && arg.size() > 1 && arg[0] == '-') {
			if (arg == "--") {
				sw_options_done = true;
			} else if (arg == "--help" || arg == "-h") {
				return answer(t.tool, t.usage);
			} else if (arg == "--version") {
				return answer_version(t.tool);
			} else if (arg == "-o" || (t.sw_output_long && arg == "--output")) {
				if (t.sw_one_output && *output)
					return usage_error(t.tool, "more than one output");
				if (i + 1 == argc)
					return usage_error(t.tool,
					                   "option '" + arg + "' needs a " + t.output);
				*output = argv[++i];
			} else {
				return usage_error(t.tool, "unknown option '" + arg + "'");
			}
			continue;
		}
		if (*input)
			return usage_error(t.tool, "more than one input; extra '" + arg + "'");
		*input = argv[i];
	}
	return -1;
}
