// write_all (common/file.h), the same on every platform.
#include "common/file.h"

#include <unistd.h>

#include <cerrno>

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
