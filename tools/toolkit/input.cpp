#include "tools/toolkit/input.h"

#include "common/os.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "stream/encode.h"

constexpr size_t read_chunk = 1 << 16;  // bytes asked of a file at a time

// The whole of fd, or false with errno set.
static bool slurp(int fd, std::vector<uint8_t> *bytes, size_t max)
{
	unsigned char chunk[read_chunk];
	while (bytes->size() <= max) {
		ssize_t n = read(fd, chunk, sizeof chunk);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0)
			return false;
		if (n == 0)
			break;
		bytes->insert(bytes->end(), chunk, chunk + n);
	}
	return true;
}

bool open_input(Input *in, const char *tool, const char *path, const InputWay &w)
{
	in->tool = tool;
	in->name = w.stdin_name;
	in->fd = STDIN_FILENO;
	if (!path || strcmp(path, "-") == 0)
		return true;
	in->name = path;
	in->sw_vel = w.sw_vel && vel_name(path);
	in->fd = open(path, O_RDONLY | O_CLOEXEC | os_binary);
	if (in->fd < 0) {
		const char *q = w.sw_quote && !in->sw_vel ? "'" : "";
		fprintf(stderr, "%s: cannot open %s%s%s: %s\n", tool, q, path, q, strerror(errno));
		return false;
	}
	if (!in->sw_vel)
		return true;
	std::vector<uint8_t> text;
	bool ok = slurp(in->fd, &text, SIZE_MAX - read_chunk);
	int err = errno;
	close(in->fd);
	in->fd = -1;
	if (!ok) {
		fprintf(stderr, "%s: %s: read error: %s\n", tool, path, strerror(err));
		return false;
	}
	Encoded e = encode_text(std::string(text.begin(), text.end()));
	fputs(encode_report(e, path).c_str(), stderr);
	in->vel = std::move(e.bytes);
	return e.errors == 0;
}

ssize_t read_input(Input *in, unsigned char *buf, size_t size)
{
	for (;;) {
		ssize_t n = read(in->fd, buf, size);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0) {
			fprintf(stderr, "%s: %s: read error at byte offset %" PRIu64 ": %s\n", in->tool,
			        in->name.c_str(), in->taken, strerror(errno));
			return -1;
		}
		in->taken += (uint64_t)n;
		return n;
	}
}

bool read_whole(Input *in, std::vector<uint8_t> *bytes, size_t max)
{
	if (!slurp(in->fd, bytes, max)) {
		fprintf(stderr, "%s: %s: read error: %s\n", in->tool, in->name.c_str(), strerror(errno));
		return false;
	}
	in->taken = bytes->size();
	return true;
}
