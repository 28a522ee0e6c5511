// Scratch files, descriptors and loopback ports for the test programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace support
{

namespace fs = std::filesystem;

// Creates the folders above p as needed.
void write_file(const fs::path &p, std::string_view contents);
std::string read_file(const fs::path &p);

// Scratch folder of one test, removed with it.
class TempDir
{
      public:
	TempDir();
	~TempDir();
	TempDir(const TempDir &) = delete;
	TempDir &operator=(const TempDir &) = delete;

	const fs::path &path() const { return path_; }
	// Each returns the path of what it made in the folder.
	std::string file(const std::string &name, std::string_view contents) const;
	std::string file(const std::string &name, const std::vector<unsigned char> &bytes) const
	{
		return file(name, std::string_view((const char *)bytes.data(), bytes.size()));
	}
	std::string fifo(const std::string &name) const;

      private:
	fs::path path_;
};

// All of it or false: SIGPIPE is ignored, so a reader that went away is a
// failed write, not a dead test.
bool write_fully(int fd, const void *data, size_t n);
inline bool write_fully(int fd, std::string_view s)
{
	return write_fully(fd, s.data(), s.size());
}

// A TCP port on 127.0.0.1 that nobody listened on a moment ago; 0 if none.
uint16_t free_port();
// A connection to that port on 127.0.0.1, or -1.
int connect_local(uint16_t port);

}  // namespace support
