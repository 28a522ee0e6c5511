// The tty backend end to end: with no virtual board, the program finds an
// FT232R port in a fake sysfs tree, opens its device node (here a
// pseudo-terminal) and draws what is written to the other side.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "tests/e2e/harness.h"

namespace e2e
{
namespace
{

void make_dirs(const std::string &path)
{
	for (size_t i = 1; i <= path.size(); i++)
		if (i == path.size() || path[i] == '/')
			mkdir(path.substr(0, i).c_str(), 0755);
}

void put(const std::string &path, const std::string &contents)
{
	std::ofstream(path) << contents;
}

class Pty
{
      public:
	Pty()
	{
		master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
		if (master_ < 0 || grantpt(master_) || unlockpt(master_))
			ADD_FAILURE() << "pseudo-terminal: " << strerror(errno);
		else
			slave_ = ptsname(master_);
	}
	~Pty()
	{
		if (master_ >= 0)
			close(master_);
	}
	const std::string &slave() const { return slave_; }
	bool write_all(const std::string &bytes) { return master_ >= 0 && write_fully(master_, bytes); }

      private:
	int master_ = -1;
	std::string slave_;
};

using E2eTty = E2eTest;

TEST_F(E2eTty, DrawsWhatThePortReceives)
{
	TempDir tmp;
	Pty pty;
	ASSERT_FALSE(pty.slave().empty());

	// sysfs as ftdi_sio leaves it: the port's link in bus/usb-serial points
	// into the USB device's interface folder; the device folder above it
	// holds the descriptor strings.
	const std::string root = tmp.path() + "/sys";
	const std::string usbdev = root + "/devices/pci0000:00/0000:00:14.0/usb3/3-2";
	const std::string port = usbdev + "/3-2:1.0/ttyUSB0";
	make_dirs(port);
	make_dirs(root + "/bus/usb-serial/devices");
	ASSERT_EQ(symlink(port.c_str(), (root + "/bus/usb-serial/devices/ttyUSB0").c_str()), 0);
	put(usbdev + "/idVendor", "0403\n");
	put(usbdev + "/idProduct", "6001\n");
	put(usbdev + "/product", "FT232R USB UART\n");
	put(usbdev + "/serial", "A7XK31QZ\n");
	put(usbdev + "/busnum", "3\n");
	put(usbdev + "/devpath", "2\n");
	const std::string dev = tmp.path() + "/dev";
	make_dirs(dev);
	ASSERT_EQ(symlink(pty.slave().c_str(), (dev + "/ttyUSB0").c_str()), 0);

	auto child = start_velmora({{"VELMORA_TTY_SYSFS", root}, {"VELMORA_TTY_DEV", dev}});
	// LocId: the bus number, then a hex digit per port down the USB path.
	const std::string expected = "USB_direct(19Jun2012 qz)\n"
	                             "Number of devices is 1\n"
	                             "Dev : 0:\n"
	                             "  Flags=0x0\n"
	                             "  Type=0x5\n"
	                             "  ID=0x4036001\n"
	                             "  LocId=0x32\n"
	                             "  SerialNumber=A7XK31QZ\n"
	                             "  Description=FT232R USB UART\n"
	                             "  ftHandle=0x0\n"
	                             "  ***** FT232R USB UART found as device 0\n"
	                             "device 0 opened\n"
	                             "Device: 00000005  Device ID: 04036001\n"
	                             "SN: A7XK31QZ  Description: FT232R USB UART\n"
	                             "device 0 reset\n"
	                             "set baud rate: 1500000\n" +
	                             question();
	ASSERT_TRUE(console_is(*child, expected));

	child->write_in("n\n");
	Window w = find_window(window_title);
	ASSERT_NE(w, 0u) << "stdout:\n" << child->out() << "\nstderr:\n" << child->err();

	// Bytes that a cooked terminal would eat or change: 0x11/0x13 (flow
	// control), 0x0D (carriage return), 0x03 (interrupt), 0x7F.
	const Segment a = {0x111, 0x113, 0x30D, 0x113, Colour::Blue};
	const Segment b = {0x203, 0x37F, 0x203, 0x1FF, Colour::Red};
	ASSERT_TRUE(pty.write_all(Stream().sync()
	                                  .clear()
	                                  .move_to(2, a.x0, a.y0)
	                                  .line_to(a.x1, a.y1)
	                                  .move_to(1, b.x0, b.y0)
	                                  .line_to(b.x1, b.y1)
	                                  .end_frame()
	                                  .bytes()));
	EXPECT_EQ(wait_for_picture(w, {a, b}), "");
}

}  // namespace
}  // namespace e2e
