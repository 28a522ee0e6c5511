#include "common/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

constexpr int temp_name_tries = 100;  // names tried beside the target before giving up
constexpr int max_link_hops = 40;     // symbolic links followed, as the kernel does

static bool fail(const char *path, int err, std::string *why)
{
	if (why)
		*why = std::string(path) + ": " + strerror(err);
	return false;
}

// The name a chain of symbolic links ends at, which need not exist yet;
// "" with errno set when the chain cannot be read.
static std::string link_target(const char *path)
{
	std::string p = path;
	for (int hop = 0; hop < max_link_hops; hop++) {
		struct stat l;
		if (lstat(p.c_str(), &l) != 0 || !S_ISLNK(l.st_mode))
			return p;
		char to[PATH_MAX];
		ssize_t n = readlink(p.c_str(), to, sizeof to - 1);
		if (n < 0)
			return "";
		to[n] = '\0';
		size_t slash = p.rfind('/');
		p = to[0] == '/' || slash == std::string::npos ? std::string(to)
		                                               : p.substr(0, slash + 1) + to;
	}
	errno = ELOOP;
	return "";
}

// Devices, FIFOs and terminals, and a regular file whose hard links must
// all see the bytes.  A regular file gets room for the bytes before any of
// its old ones is overwritten, then is cut to their length.
static bool write_in_place(const char *path, const void *data, size_t size, bool sw_regular, std::string *why)
{
	int fd = open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
	if (fd < 0)
		return fail(path, errno, why);
	int err = 0;
	if (sw_regular && size > 0 && fallocate(fd, 0, 0, (off_t)size) != 0 && errno != EOPNOTSUPP)
		err = errno;
	if (err == 0 && !write_all(fd, data, size))
		err = errno;
	if (err == 0 && sw_regular && ftruncate(fd, (off_t)size) != 0)
		err = errno;
	if (close(fd) != 0 && err == 0)
		err = errno;
	return err == 0 ? true : fail(path, err, why);
}

// No fsync: a failed write or a dying process leaves no partial file, which
// is what a reader of the directory needs; durability across a power cut is
// the file system's affair.  old is the file being replaced, or null.
static bool write_beside(const char *path, const std::string &target, const struct stat *old,
                         const void *data, size_t size, std::string *why)
{
	std::string tmp;
	int fd = -1;
	for (int i = 0; i < temp_name_tries && fd < 0; i++) {
		tmp = target + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(i);
		fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, old ? 0600 : 0666);
		if (fd < 0 && errno != EEXIST)
			break;
	}
	if (fd < 0)
		return old ? write_in_place(path, data, size, true, why) : fail(path, errno, why);

	// The owner first: giving a file away clears its set-id bits.
	struct stat now;
	if (old && (fstat(fd, &now) != 0 || ((now.st_uid != old->st_uid || now.st_gid != old->st_gid) &&
	                                     fchown(fd, old->st_uid, old->st_gid) != 0))) {
		close(fd);
		unlink(tmp.c_str());
		return write_in_place(path, data, size, true, why);
	}
	int err = 0;
	if (old && fchmod(fd, old->st_mode & 07777) != 0)
		err = errno;
	if (err == 0 && !write_all(fd, data, size))
		err = errno;
	if (close(fd) != 0 && err == 0)
		err = errno;
	if (err == 0 && rename(tmp.c_str(), target.c_str()) != 0)
		err = errno;
	if (err != 0) {
		unlink(tmp.c_str());
		return fail(path, err, why);
	}
	return true;
}

bool write_file(const char *path, const void *data, size_t size, std::string *why)
{
	struct stat st;
	if (stat(path, &st) != 0) {
		if (errno != ENOENT)
			return fail(path, errno, why);
		std::string target = link_target(path);
		if (target.empty())
			return fail(path, errno, why);
		return write_beside(path, target, nullptr, data, size, why);
	}
	if (S_ISDIR(st.st_mode))
		return fail(path, EISDIR, why);
	if (!S_ISREG(st.st_mode))
		return write_in_place(path, data, size, false, why);
	if (st.st_nlink > 1)
		return write_in_place(path, data, size, true, why);
	// A link the chain does not lead along (/proc/self/fd/N to a deleted
	// file) leaves the file where it is: written through the path.
	std::string target = link_target(path);
	struct stat t;
	if (target.empty() || stat(target.c_str(), &t) != 0 || t.st_dev != st.st_dev || t.st_ino != st.st_ino)
		return write_in_place(path, data, size, true, why);
	return write_beside(path, target, &st, data, size, why);
}
