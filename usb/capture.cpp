#include "usb/capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/config.h"

static int capture_fd = -1;  // -1: not capturing
static const char *capture_path = "";
static unsigned char pending[capture_buffer];
static uint32_t pending_count;
static int64_t last_write_ms;

static int64_t now_ms()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// Said once; after it nothing more is captured.
static void give_up(const char *what, int error)
{
	fprintf(stderr, "velmora: capture to %s stopped: %s: %s\n", capture_path, what, strerror(error));
	close(capture_fd);
	capture_fd = -1;
	pending_count = 0;
}

// write() only, so that a signal handler may call it.
static bool write_pending()
{
	uint32_t done = 0;
	while (done < pending_count) {
		ssize_t k = write(capture_fd, pending + done, pending_count - done);
		if (k < 0 && errno == EINTR)
			continue;
		if (k <= 0)
			return false;
		done += (uint32_t)k;
	}
	pending_count = 0;
	return true;
}

void capture_flush()
{
	if (capture_fd < 0 || pending_count == 0)
		return;
	int saved = errno;
	if (!write_pending())
		give_up("write", errno ? errno : EIO);
	errno = saved;
}

void capture_tick()
{
	if (capture_fd < 0 || pending_count == 0)
		return;
	int64_t now = now_ms();
	if (now - last_write_ms < capture_flush_ms)
		return;
	last_write_ms = now;
	capture_flush();
}

void capture_bytes(const unsigned char *bytes, uint32_t n)
{
	while (capture_fd >= 0 && n > 0) {
		if (pending_count == capture_buffer) {
			capture_flush();
			last_write_ms = now_ms();
			continue;
		}
		uint32_t k = capture_buffer - pending_count;
		if (k > n)
			k = n;
		memcpy(pending + pending_count, bytes, k);
		pending_count += k;
		bytes += k;
		n -= k;
	}
}

static void at_exit()
{
	capture_flush();
}

// A window closed by a signal instead of its close button loses nothing
// either; the signal then does what it would have done.
static void on_signal(int sig)
{
	capture_flush();
	signal(sig, SIG_DFL);
	raise(sig);
}

void capture_open()
{
	const char *path = getenv("VELMORA_CAPTURE");
	if (!path || !*path)
		return;
	capture_path = path;
	capture_fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0666);
	if (capture_fd < 0) {
		fprintf(stderr, "velmora: cannot capture to %s: %s; the display goes on without it\n", path,
		        strerror(errno));
		return;
	}
	last_write_ms = now_ms();
	atexit(at_exit);
	signal(SIGINT, on_signal);
	signal(SIGTERM, on_signal);
	signal(SIGHUP, on_signal);
}
