#include "tools/toolkit/cli.h"

#include "common/os.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

int answer(const char *tool, const char *text)
{
	if (fputs(text, stdout) >= 0 && fflush(stdout) == 0)
		return 0;
	fprintf(stderr, "%s: write error: %s\n", tool, strerror(errno));
	return 2;
}

int answer_version(const char *tool)
{
	char text[64];
	snprintf(text, sizeof text, "%s %s\n", tool, VELMORA_VERSION);
	return answer(tool, text);
}

int usage_error(const char *tool, const std::string &what)
{
	fprintf(stderr, "%s: %s\nTry '%s --help'.\n", tool, what.c_str(), tool);
	return 2;
}

int fail(const char *tool, const std::string &what, int status)
{
	fprintf(stderr, "%s: %s\n", tool, what.c_str());
	return status;
}

Option value_option(const char *name, const char *alias, const char *value_name, const char *once,
                    const char **to)
{
	return {name, alias, true, value_name, once, [to](const char *v) {
		        *to = v;
		        return -1;
	        }};
}

Option switch_option(const char *name, bool *sw, bool to)
{
	return {name, nullptr, false, nullptr, nullptr, [sw, to](const char *) {
		        *sw = to;
		        return -1;
	        }};
}

int read_command_line(const CommandLine &c, int argc, char **argv, const char **input)
{
	os_bytes_stdio();
	std::vector<bool> seen(c.options.size());
	bool sw_options_done = false;
	for (int i = 1; i < argc; i++) {
		std::string arg = argv[i];
		bool sw_option = !c.sw_input || (!sw_options_done && arg.size() > 1 && arg[0] == '-');
		if (!sw_option) {
			if (*input)
				return usage_error(c.tool, "more than one input; extra '" + arg + "'");
			*input = argv[i];
			continue;
		}
		if (c.sw_input && arg == "--") {
			sw_options_done = true;
			continue;
		}
		if (arg == "--help" || arg == "-h")
			return answer(c.tool, c.usage);
		if (arg == "--version")
			return answer_version(c.tool);
		size_t k = 0;
		while (k < c.options.size() && arg != c.options[k].name &&
		       !(c.options[k].alias && arg == c.options[k].alias))
			k++;
		if (k == c.options.size())
			return usage_error(c.tool, std::string(c.unknown) + " '" + arg + "'");
		const Option &o = c.options[k];
		if (o.once && seen[k])
			return usage_error(c.tool, o.once);
		seen[k] = true;
		const char *value = nullptr;
		if (o.sw_value) {
			if (i + 1 == argc)
				return usage_error(
				        c.tool, o.value_name ? "option '" + arg + "' needs a " + o.value_name
				                             : "missing value after '" + arg + "'");
			value = argv[++i];
		}
		if (int status = o.take(value); status >= 0)
			return status;
	}
	return -1;
}
