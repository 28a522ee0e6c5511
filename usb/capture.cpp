#include "usb/capture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/config.h"
#include "common/os.h"
#include "usb/usb_link.h"

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

// PATH with -n before its extension: board.bin, board-2.bin, board-3.bin...
static bool numbered(const char *path, int n, char *to, size_t size)
{
	if (n == 1)
		return snprintf(to, size, "%s", path) < (int)size;
	const char *base = strrchr(path, '/');
	base = base ? base + 1 : path;
	const char *dot = strrchr(base, '.');
	if (!dot || dot == base)
		dot = base + strlen(base);
	return snprintf(to, size, "%.*s-%d%s", (int)(dot - path), path, n, dot) < (int)size;
}

// Opens the capture without destroying anything: a file that holds bytes
// is kept and the next free name taken instead; an empty file is written
// into, a device or fifo written to.  -1 with errno set.
static int open_free(const char *path, char *name, size_t size)
{
	for (int n = 1; n <= max_capture_names; n++) {
		if (!numbered(path, n, name, size)) {
			errno = ENAMETOOLONG;
			return -1;
		}
		if (n > 1 && d2xx_reads_from(ftHandle, name))
			continue;
		int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC | os_binary, 0666);
		if (fd >= 0 || errno != EEXIST)
			return fd;
		struct stat st;
		if (stat(name, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
			return open(name, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC | os_binary, 0666);
	}
	errno = EEXIST;
	return -1;
}

void capture_open()
{
	const char *path = getenv("VELMORA_CAPTURE");
	if (!path || !*path)
		return;
	capture_path = path;
	// Writing into what the board is read from would destroy it unread.
	if (d2xx_reads_from(ftHandle, path)) {
		fprintf(stderr,
		        "velmora: will not capture to %s: the board's bytes are read from it "
		        "(VELMORA_BOARD); the display goes on without a capture\n",
		        path);
		return;
	}
	static char name[PATH_MAX];
	capture_fd = open_free(path, name, sizeof name);
	if (capture_fd < 0) {
		fprintf(stderr, "velmora: cannot capture to %s: %s; the display goes on without it\n", path,
		        strerror(errno));
		return;
	}
	if (strcmp(name, path) != 0) {
		fprintf(stderr, "velmora: %s holds bytes already and is kept; capturing to %s\n", path, name);
		capture_path = name;
	}
	last_write_ms = now_ms();
	atexit(at_exit);
	for (int sig : os_end_signals)
		signal(sig, on_signal);
}
