#include "common/os.h"

#include <windows.h>

#include <cstdio>

const char *os_error_text(unsigned long code)
{
	static char text[256];
	DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
	                         text, sizeof text, nullptr);
	while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.'))
		text[--n] = '\0';
	if (n == 0)
		snprintf(text, sizeof text, "error %lu", code);
	return text;
}
