#include "tools/toolkit/output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/file.h"
#include "common/os.h"

bool set_aside_stdout(bool to_stdout, const char *what, int *fd, std::string *why)
{
	*fd = -1;
	if (to_stdout) {
		if (isatty(STDOUT_FILENO)) {
			*why = std::string("will not write a ") + what +
			       " to a terminal; give -o FILE or redirect it";
			return false;
		}
		*fd = os_dup(STDOUT_FILENO);
		if (*fd < 0) {
			*why = std::string("standard output: ") + strerror(errno);
			return false;
		}
	}
	fflush(stdout);
	dup2(STDERR_FILENO, STDOUT_FILENO);
	return true;
}

bool write_output(int fd, const char *path, const void *data, size_t size, std::string *why)
{
	if (fd < 0)
		return write_file(path, data, size, why);
	if (write_all(fd, data, size) && close(fd) == 0)
		return true;
	*why = std::string("standard output: ") + strerror(errno);
	return false;
}
