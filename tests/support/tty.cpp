#include "tests/support/tty.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

namespace support
{

Pty::Pty()
{
	char name[64];
	master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
	if (master_ < 0 || grantpt(master_) || unlockpt(master_) || ptsname_r(master_, name, sizeof name) ||
	    (slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0)
		ADD_FAILURE() << "pseudo-terminal: " << strerror(errno);
	else
		name_ = name;
}

Pty::~Pty()
{
	hang_up();
	if (slave_ >= 0)
		close(slave_);
}

void Pty::hang_up()
{
	if (master_ >= 0)
		close(master_);
	master_ = -1;
}

FakeSysfs::FakeSysfs(const fs::path &root) : sys(root / "sys"), dev(root / "dev")
{
	fs::create_directories(sys / "bus/usb-serial/devices");
	fs::create_directories(dev);
}

void FakeSysfs::add_port(unsigned number, const std::string &usb_device, const std::string &attributes)
{
	const std::string tty = "ttyUSB" + std::to_string(number);
	const fs::path usb = sys / "devices/pci0000:00/0000:00:14.0" /
	                     ("usb" + usb_device.substr(0, usb_device.find('-'))) / usb_device;
	const fs::path node = usb / (usb_device + ":1.0") / tty;
	write_file(node / "latency_timer", "16\n");
	for (size_t at = 0; at < attributes.size();) {
		size_t end = std::min(attributes.find(';', at), attributes.size());
		std::string item = attributes.substr(at, end - at);
		size_t eq = item.find('=');
		write_file(usb / item.substr(0, eq), item.substr(eq + 1) + "\n");
		at = end + 1;
	}
	const fs::path links = sys / "bus/usb-serial/devices";
	fs::create_directory_symlink(fs::relative(node, links), links / tty);
}

void FakeSysfs::plug(unsigned number, const Pty &pty) const
{
	const std::string tty = "ttyUSB" + std::to_string(number);
	fs::create_symlink(pty.name(), dev / tty);
	struct stat st;
	if (stat(pty.name().c_str(), &st) == 0)
		write_file(port(number) / "tty" / tty / "dev", std::to_string(major(st.st_rdev)) + ":" +
		                                                       std::to_string(minor(st.st_rdev)) +
		                                                       "\n");
}

fs::path FakeSysfs::port(unsigned number) const
{
	return sys / "bus/usb-serial/devices" / ("ttyUSB" + std::to_string(number));
}

void Pty::expect_board_line() const
{
	termios t;
	ASSERT_EQ(tcgetattr(slave_, &t), 0);
	EXPECT_EQ(cfgetispeed(&t), (speed_t)B1500000);
	EXPECT_EQ(cfgetospeed(&t), (speed_t)B1500000);
	EXPECT_TRUE(t.c_cflag & CRTSCTS);
	EXPECT_EQ(t.c_cflag & CSIZE, (tcflag_t)CS8);
	EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB));
}

}  // namespace support
