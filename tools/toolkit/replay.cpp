#include "tools/toolkit/replay.h"

#include "common/platform.h"

uint64_t bytes_read = 0;

static const unsigned char *src_ptr = nullptr;
static size_t src_left = 0;

void source_give(const unsigned char *bytes, size_t n)
{
	src_ptr = bytes;
	src_left = n;
}

uint16_t drchar()
{
	if (src_left == 0)
		return NO_BYTE;
	src_left--;
	bytes_read++;
	return *src_ptr++;
}

int32_t clock_ms()
{
	return 0;
}
