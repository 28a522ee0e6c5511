#include "tools/toolkit/replay.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/platform.h"
#include "stream/encode.h"

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

bool read_vel(const char *tool, const char *path, std::vector<uint8_t> *bytes)
{
	FILE *in = fopen(path, "rb");
	if (!in) {
		fprintf(stderr, "%s: cannot open %s: %s\n", tool, path, strerror(errno));
		return false;
	}
	std::string text;
	char chunk[1 << 16];
	size_t n;
	while ((n = fread(chunk, 1, sizeof chunk, in)) > 0)
		text.append(chunk, n);
	int err = ferror(in) ? errno : 0;
	fclose(in);
	if (err != 0) {
		fprintf(stderr, "%s: %s: read error: %s\n", tool, path, strerror(err));
		return false;
	}
	Encoded e = encode_text(text);
	fputs(encode_report(e, path).c_str(), stderr);
	if (e.errors > 0)
		return false;
	*bytes = std::move(e.bytes);
	return true;
}
