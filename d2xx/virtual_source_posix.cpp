// The virtual board's source on Linux and other POSIX systems: a file, a
// fifo (or any stream named as a file), or TCP clients on 127.0.0.1.
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/config.h"
#include "d2xx/helpers.h"
#include "d2xx/virtual_source.h"

static source_kind kind;
static const char *path_given = "";
static int source_fd = -1;  // file, fifo, or the current TCP client
static int listen_fd = -1;
static dev_t source_dev;  // the named file or fifo, as opened
static ino_t source_ino;

static bool open_listener(uint16_t port)
{
	listen_fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
	if (listen_fd < 0) {
		d2xx_note("virtual board: socket: %s", strerror(errno));
		return false;
	}
	int on = 1;
	setsockopt(listen_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
	// Before listen(), so that every client's socket starts with it.
	int size = virtual_kernel_buffer;
	setsockopt(listen_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
	sockaddr_in a;
	memset(&a, 0, sizeof a);
	a.sin_family = AF_INET;
	a.sin_port = htons(port);
	a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	// Clients are served one at a time; the next ones wait in the backlog.
	if (bind(listen_fd, (sockaddr *)&a, sizeof a) < 0 || listen(listen_fd, 4) < 0) {
		d2xx_note("virtual board: cannot listen on 127.0.0.1:%u: %s", port, strerror(errno));
		close(listen_fd);
		listen_fd = -1;
		return false;
	}
	return true;
}

bool source_open(source_kind k, const char *path, uint16_t port, bool *regular)
{
	kind = k;
	path_given = path;
	*regular = false;
	if (kind == source_tcp)
		return open_listener(port);
	// Non-blocking, so a fifo without a writer does not hold us up.  A fifo
	// is also opened for writing, never to write but so that it never
	// reads as ended between two writers: it is then quiet, and a sleep on
	// it wakes only for bytes.
	struct stat path_st;
	bool fifo = stat(path, &path_st) == 0 && S_ISFIFO(path_st.st_mode);
	source_fd = open(path, (fifo ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	if (source_fd < 0) {
		d2xx_note("virtual board: cannot open %s: %s", path, strerror(errno));
		return false;
	}
	// Said now, before the window, rather than by the first read.
	struct stat fd_st;
	const char *why = nullptr;
	if (fstat(source_fd, &fd_st) != 0)
		why = strerror(errno);
	else if (S_ISDIR(fd_st.st_mode))
		why = "it is a directory";
	else if (!S_ISREG(fd_st.st_mode) && !S_ISFIFO(fd_st.st_mode) && !S_ISCHR(fd_st.st_mode))
		why = "it is not a file, a fifo or a character device";
	if (why) {
		d2xx_note("virtual board: cannot read %s: %s", path, why);
		source_close();
		return false;
	}
	if (fifo)
		fcntl(source_fd, F_SETPIPE_SZ, virtual_kernel_buffer);
	source_dev = fd_st.st_dev;
	source_ino = fd_st.st_ino;
	*regular = S_ISREG(fd_st.st_mode);
	return true;
}

void source_close()
{
	if (source_fd >= 0)
		close(source_fd);
	if (listen_fd >= 0)
		close(listen_fd);
	source_fd = listen_fd = -1;
}

long source_read(void *buf, size_t n)
{
	for (;;) {
		if (kind == source_tcp && source_fd < 0) {
			source_fd = accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
			if (source_fd < 0)
				return source_none;  // nobody waiting, or one who gave up
		}
		ssize_t k = read(source_fd, buf, n);
		if (k > 0)
			return (long)k;
		if (k < 0 && errno == EINTR)
			continue;
		if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
			return source_none;
		if (kind == source_tcp) {
			// This client is done (closed or reset); the next may come in.
			close(source_fd);
			source_fd = -1;
			continue;
		}
		if (k == 0)
			return 0;
		d2xx_note("virtual board: reading %s: %s", path_given, strerror(errno));
		return source_failed;
	}
}

bool source_reads_from(const char *path)
{
	struct stat st;
	return kind != source_tcp && source_fd >= 0 && stat(path, &st) == 0 && source_dev == st.st_dev &&
	       source_ino == st.st_ino;
}

void source_wait(int fd, bool sw_watch, int64_t timeout_us)
{
	pollfd p[2];
	int n = 0;
	if (fd >= 0)
		p[n++] = {fd, POLLIN, 0};
	int src = kind == source_tcp ? (source_fd >= 0 ? source_fd : listen_fd) : source_fd;
	if (sw_watch && src >= 0)
		p[n++] = {src, POLLIN, 0};
	d2xx_poll(p, n, timeout_us);
}
