// FT232R ports as the tty backend finds them: a made-up sysfs tree and a
// device folder, with pseudo-terminals standing in for the ports.
#pragma once

#include <string>
#include <string_view>

#include "tests/support/files.h"

namespace support
{

// The board writes at the master side; the slave side is the port.
class Pty
{
      public:
	Pty();  // both sides open, close-on-exec
	~Pty();
	Pty(const Pty &) = delete;
	Pty &operator=(const Pty &) = delete;

	const std::string &name() const { return name_; }  // the slave's device node
	int master() const { return master_; }
	int slave() const { return slave_; }  // the test's own view of the port
	bool write(std::string_view bytes) const { return write_fully(master_, bytes); }
	void hang_up();  // closes the master: the board unplugged
	// The port as set for the board: 1,500,000 baud, 8N1, RTS/CTS flow.
	void expect_board_line() const;

      private:
	int master_ = -1, slave_ = -1;
	std::string name_;
};

// ROOT/sys as ftdi_sio leaves it (VELMORA_TTY_SYSFS) and ROOT/dev
// (VELMORA_TTY_DEV).
class FakeSysfs
{
      public:
	explicit FakeSysfs(const fs::path &root);
	const fs::path sys, dev;

	// ttyUSB<number> on the USB device usb_device ("3-1.4": bus 3, ports 1
	// then 4), whose attributes are "name=value;...", each written with a
	// newline.  The port's latency timer starts at 16 ms.
	void add_port(unsigned number, const std::string &usb_device, const std::string &attributes);
	// DEV/ttyUSB<number> is the pty's slave, and sysfs lists its device
	// number.
	void plug(unsigned number, const Pty &pty) const;
	// The port's folder, through its link in bus/usb-serial.
	fs::path port(unsigned number) const;
};

}  // namespace support
