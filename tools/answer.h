// What every tool answers before it reads any input: --help, --version and
// a command line it cannot take.
#pragma once

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

// "velmora-encode: WHAT" and where to look, on stderr; exit status 2.
inline int usage_error(const char *tool, const std::string &what)
{
	fprintf(stderr, "%s: %s\nTry '%s --help'.\n", tool, what.c_str(), tool);
	return 2;
}
