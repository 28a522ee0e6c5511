#include "picture/file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

constexpr int temp_name_tries = 100;  // names tried beside the target before giving up

static bool fail(const char *path, int err, std::string *why)
{
	if (why)
		*why = std::string(path) + ": " + strerror(err);
	return false;
}

bool write_all(int fd, const void *data, size_t size)
{
	const char *p = static_cast<const char *>(data);
	while (size > 0) {
		ssize_t n = write(fd, p, size);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0) {
			if (n == 0)
				errno = EIO;
			return false;
		}
		p += n;
		size -= (size_t)n;
	}
	return true;
}

// No fsync: a failed write or a dying process leaves no partial file, which
// is what a reader of the directory needs; durability across a power cut is
// the file system's affair.
bool write_file(const char *path, const void *data, size_t size, std::string *why)
{
	std::string tmp;
	int fd = -1;
	for (int i = 0; i < temp_name_tries && fd < 0; i++) {
		tmp = std::string(path) + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(i);
		fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
		if (fd < 0 && errno != EEXIST)
			break;
	}
	if (fd < 0)
		return fail(path, errno, why);

	int err = write_all(fd, data, size) ? 0 : errno;
	if (close(fd) != 0 && err == 0)
		err = errno;
	if (err == 0 && rename(tmp.c_str(), path) != 0)
		err = errno;
	if (err != 0) {
		unlink(tmp.c_str());
		return fail(path, err, why);
	}
	return true;
}
