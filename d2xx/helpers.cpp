#include "d2xx/helpers.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "d2xx/ftd2xx.h"

static bool sw_counting = false;
static uint32_t said_open = 0;  // lines said while counting
static char said_last[160];

void d2xx_note(const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	fputs("velmora: ", stderr);
	vfprintf(stderr, format, ap);
	fputc('\n', stderr);
	va_end(ap);
	if (sw_counting) {
		said_open++;
		va_start(ap, format);
		vsnprintf(said_last, sizeof said_last, format, ap);
		va_end(ap);
	}
}

void d2xx_counting(bool sw_on)
{
	sw_counting = sw_on;
}

uint32_t d2xx_said(const char **last)
{
	*last = said_last;
	return said_open;
}

void d2xx_copy(char *to, size_t size, const char *from, size_t len)
{
	if (size == 0)
		return;
	if (len > size - 1)
		len = size - 1;
	memcpy(to, from, len);
	to[len] = '\0';
}
