#include "tests/support/files.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

namespace support
{

void write_file(const fs::path &p, std::string_view contents)
{
	if (p.has_parent_path())
		fs::create_directories(p.parent_path());
	std::ofstream(p, std::ios::binary).write(contents.data(), (std::streamsize)contents.size());
}

std::string read_file(const fs::path &p)
{
	std::ifstream f(p, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(f), {});
}

TempDir::TempDir()
{
	std::string name = testing::TempDir() + "velmora-XXXXXX";
	if (mkdtemp(name.data()))
		path_ = name;
	else
		ADD_FAILURE() << "mkdtemp " << name << ": " << strerror(errno);
}

TempDir::~TempDir()
{
	std::error_code ignored;
	if (!path_.empty())
		fs::remove_all(path_, ignored);
}

std::string TempDir::file(const std::string &name, std::string_view contents) const
{
	write_file(path_ / name, contents);
	return path_ / name;
}

std::string TempDir::fifo(const std::string &name) const
{
	std::string p = path_ / name;
	if (mkfifo(p.c_str(), 0600))
		ADD_FAILURE() << "mkfifo " << p << ": " << strerror(errno);
	return p;
}

bool write_fully(int fd, const void *data, size_t n)
{
	signal(SIGPIPE, SIG_IGN);
	for (size_t done = 0; done < n;) {
		ssize_t k = ::write(fd, (const char *)data + done, n - done);
		if (k < 0 && errno == EINTR)
			continue;
		if (k <= 0)
			return false;
		done += (size_t)k;
	}
	return true;
}

static sockaddr_in loopback(uint16_t port)
{
	sockaddr_in a = {};
	a.sin_family = AF_INET;
	a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	a.sin_port = htons(port);
	return a;
}

uint16_t free_port()
{
	int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in a = loopback(0);
	socklen_t len = sizeof a;
	uint16_t port = 0;
	if (fd >= 0 && bind(fd, (sockaddr *)&a, sizeof a) == 0 && getsockname(fd, (sockaddr *)&a, &len) == 0)
		port = ntohs(a.sin_port);
	if (fd >= 0)
		close(fd);
	return port;
}

int connect_local(uint16_t port)
{
	int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in a = loopback(port);
	if (fd >= 0 && connect(fd, (sockaddr *)&a, sizeof a) == 0)
		return fd;
	int e = errno;
	if (fd >= 0)
		close(fd);
	errno = e;
	return -1;
}

}  // namespace support
