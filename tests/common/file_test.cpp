// write_file keeps what stands at the path: what is not a regular file is
// written through, never replaced; links are followed; a file keeps its
// mode and its hard links.
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

#include "common/file.h"
#include "tests/support/files.h"

namespace
{

using namespace support;

TEST(WriteFile, KeepsWhatStandsAtThePath)
{
	TempDir tmp;
	const fs::path dir = tmp.path();
	std::string why;
	auto put = [&](const fs::path &p, const std::string &bytes) {
		why.clear();
		return ::write_file(p.c_str(), bytes.data(), bytes.size(), &why);
	};

	// A device behind a link: its error comes back, and the link stays.
	fs::create_symlink("/dev/full", dir / "full");
	EXPECT_FALSE(put(dir / "full", "abcd"));
	EXPECT_NE(why.find("No space left on device"), std::string::npos) << why;
	EXPECT_TRUE(fs::is_symlink(dir / "full"));

	// A FIFO: its reader gets the bytes.
	const std::string fifo = tmp.fifo("fifo");
	std::string got;
	std::thread reader([&] { got = read_file(fifo); });
	EXPECT_TRUE(put(fifo, "through")) << why;
	reader.join();
	EXPECT_EQ(got, "through");
	EXPECT_TRUE(fs::is_fifo(fifo));

	// A 0600 file with a second hard link: both names see the new bytes.
	const std::string linked = tmp.file("linked", "old bytes, longer than the new");
	ASSERT_EQ(chmod(linked.c_str(), 0600), 0);
	fs::create_hard_link(linked, dir / "other");
	EXPECT_TRUE(put(linked, "new")) << why;
	EXPECT_EQ(read_file(dir / "other"), "new");
	EXPECT_EQ(fs::status(linked).permissions(), fs::perms::owner_read | fs::perms::owner_write);

	// A link to a file, and one to a file not there yet: the targets are
	// written, the links stay, and no temporary file is left.
	const std::string single = tmp.file("single", "old");
	ASSERT_EQ(chmod(single.c_str(), 0640), 0);
	fs::create_symlink("single", dir / "to-single");
	fs::create_symlink("new", dir / "to-new");
	EXPECT_TRUE(put(dir / "to-single", "replaced")) << why;
	EXPECT_TRUE(put(dir / "to-new", "created")) << why;
	EXPECT_EQ(read_file(single), "replaced");
	EXPECT_EQ(read_file(dir / "new"), "created");
	EXPECT_EQ(fs::status(single).permissions(),
	          fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
	EXPECT_TRUE(fs::is_symlink(dir / "to-single") && fs::is_symlink(dir / "to-new"));
	EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 8);
}

}  // namespace
