// The tty backend over a made-up sysfs tree, with pseudo-terminals standing
// in for the FT232R ports.
#include <atomic>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "tests/d2xx/d2xx_test.h"
#include "tests/support/tty.h"

namespace
{

using namespace d2xx_test;

// Three chips on four ports, listed out of order; ttyUSB3's device tells
// nothing.
class TtyPorts : public D2xxTest
{
      protected:
	FakeSysfs sysfs{dir};
	const fs::path &sys = sysfs.sys, &dev = sysfs.dev;
	Pty pty;

	void SetUp() override
	{
		D2xxTest::SetUp();
		sysfs.add_port(10, "3-1.4",
		               "idVendor=0403;idProduct=6001;product=FT232R USB UART;"
		               "serial=AL00FGHI;busnum=3;devpath=1.4");
		sysfs.add_port(2, "1-2",
		               "idVendor=0403;idProduct=6001;product=FT232R USB UART;"
		               "serial=A9ABCDEF;busnum=1;devpath=2");
		sysfs.add_port(1, "2-3",
		               "idVendor=10c4;idProduct=ea60;product=CP2102 USB to UART Bridge Controller;"
		               "serial=0001;busnum=2;devpath=3");
		sysfs.add_port(3, "1-5", "");
		// Not usb-serial ports: left out.
		fs::create_directories(sys / "bus/usb-serial/devices/ttyUSBx");
		fs::create_directories(sys / "bus/usb-serial/devices/ttyUSB05");
		set("VELMORA_TTY_SYSFS", sys.string());
		set("VELMORA_TTY_DEV", dev.string());
	}

	// The pseudo-terminal as DEV/ttyUSB10, and the port at index 3 (that
	// one) opened and set up as the program does.
	FT_HANDLE plug_and_open()
	{
		sysfs.plug(10, pty);
		uint32_t n;
		EXPECT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
		FT_HANDLE h = nullptr;
		EXPECT_EQ(FT_Open(3, &h), FT_OK);
		EXPECT_EQ(set_up(h), FT_OK);
		return h;
	}

	void write_master(const Bytes &b) { ASSERT_TRUE(write_fully(pty.master(), b.data(), b.size())); }
};

TEST_F(TtyPorts, ListsEveryPortInNumericOrderWithWhatSysfsTells)
{
	uint32_t n = 0;
	ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
	ASSERT_EQ(n, 4u);
	struct Want {
		uint32_t id, loc_id;
		const char *serial, *description;
	} want[] = {
	        {0x10c4ea60, 0x23, "0001", "CP2102 USB to UART Bridge Controller"},  // ttyUSB1
	        {0x04036001, 0x12, "A9ABCDEF", "FT232R USB UART"},                   // ttyUSB2
	        {0, 0, "", ""},                                                      // ttyUSB3
	        {0x04036001, 0x314, "AL00FGHI", "FT232R USB UART"},                  // ttyUSB10
	};
	for (uint32_t i = 0; i < n; i++) {
		uint32_t flags = 9, type = 9, id = 9, loc = 9;
		char serial[ft_serial_size], description[ft_description_size];
		FT_HANDLE handle = &handle;
		ASSERT_EQ(FT_GetDeviceInfoDetail(i, &flags, &type, &id, &loc, serial, description, &handle),
		          FT_OK);
		EXPECT_EQ(flags, 0u) << i;
		EXPECT_EQ(type, FT_DEVICE_232R) << i;
		EXPECT_EQ(id, want[i].id) << i;
		EXPECT_EQ(loc, want[i].loc_id) << i;
		EXPECT_STREQ(serial, want[i].serial) << i;
		EXPECT_STREQ(description, want[i].description) << i;
		EXPECT_EQ(handle, nullptr) << i;
	}
}

// No devices, as the program's console says; stderr says why.
TEST_F(TtyPorts, NoUsbSerialDriverMeansNoDevices)
{
	set("VELMORA_TTY_SYSFS", (dir / "empty").string());
	uint32_t n = 7;
	testing::internal::CaptureStderr();
	EXPECT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
	const std::string err = testing::internal::GetCapturedStderr();
	EXPECT_EQ(n, 0u);
	EXPECT_NE(err.find((dir / "empty/bus/usb-serial/devices").string() + " does not exist"),
	          std::string::npos)
	        << err;
}

TEST_F(TtyPorts, LastFT232RIsOpenedAndConfigured)
{
	sysfs.plug(10, pty);
	// The program's choice: the last entry described "FT232R USB UART".
	uint32_t n = 0;
	ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
	int chosen = -1;
	for (uint32_t i = 0; i < n; i++) {
		uint32_t u;
		char serial[ft_serial_size], description[ft_description_size];
		FT_HANDLE t;
		ASSERT_EQ(FT_GetDeviceInfoDetail(i, &u, &u, &u, &u, serial, description, &t), FT_OK);
		if (strcmp(description, "FT232R USB UART") == 0)
			chosen = (int)i;
	}
	ASSERT_EQ(chosen, 3);
	FT_HANDLE h = nullptr;
	ASSERT_EQ(FT_Open(chosen, &h), FT_OK);
	FT_DEVICE type;
	uint32_t id;
	char serial[ft_serial_size], description[ft_description_size];
	ASSERT_EQ(FT_GetDeviceInfo(h, &type, &id, serial, description, nullptr), FT_OK);
	EXPECT_STREQ(serial, "AL00FGHI");
	ASSERT_EQ(set_up(h), FT_OK);

	pty.expect_board_line();
	termios t;
	ASSERT_EQ(tcgetattr(pty.slave(), &t), 0);
	EXPECT_TRUE(t.c_cflag & CLOCAL);
	EXPECT_TRUE(t.c_cflag & CREAD);
	EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
	EXPECT_FALSE(t.c_oflag & OPOST);
	EXPECT_FALSE(t.c_iflag & (ICRNL | IXON | ISTRIP));
	// The driver's latency timer, where it can be written, is 1 ms.
	const fs::path ttyusb10 = sysfs.port(10);
	EXPECT_EQ(read_file(ttyusb10 / "latency_timer"), "1\n");

	uint32_t flags, u;
	FT_HANDLE listed;
	ASSERT_EQ(FT_GetDeviceInfoDetail(3, &flags, &u, &u, &u, serial, description, &listed), FT_OK);
	EXPECT_EQ(flags, FT_FLAGS_OPENED);
	EXPECT_EQ(listed, h);

	// Without a latency timer to set, the transfer size is still no failure.
	fs::remove(ttyusb10 / "latency_timer");
	EXPECT_EQ(FT_SetUSBParameters(h, 16384, 0), FT_OK);
}

TEST_F(TtyPorts, SettingsThePortDoesNotKeepFail)
{
	FT_HANDLE h = plug_and_open();
	// A pty keeps the speed and stop bits but forces CS8 and no parity.
	EXPECT_EQ(FT_SetDataCharacteristics(h, FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE), FT_OK);
	EXPECT_NE(FT_SetDataCharacteristics(h, FT_BITS_7, FT_STOP_BITS_1, FT_PARITY_NONE), FT_OK);
	EXPECT_NE(FT_SetDataCharacteristics(h, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_EVEN), FT_OK);
	EXPECT_EQ(FT_SetBaudRate(h, 250000), FT_INVALID_BAUD_RATE);  // no termios constant
	EXPECT_EQ(FT_SetBaudRate(h, 115200), FT_OK);
	EXPECT_EQ(FT_SetFlowControl(h, FT_FLOW_DTR_DSR, 0, 0), FT_NOT_SUPPORTED);
	EXPECT_EQ(FT_SetFlowControl(h, FT_FLOW_NONE, 0, 0), FT_OK);
	termios t;
	ASSERT_EQ(tcgetattr(pty.slave(), &t), 0);
	EXPECT_EQ(cfgetospeed(&t), (speed_t)B115200);
	EXPECT_FALSE(t.c_cflag & CRTSCTS);
}

TEST_F(TtyPorts, MegabyteArrivesWholeAndInOrder)
{
	FT_HANDLE h = plug_and_open();
	Bytes bytes = pattern(1 << 20);
	std::atomic<bool> stop{false};
	std::thread writer([&] {
		fcntl(pty.master(), F_SETFL, O_NONBLOCK);
		size_t done = 0;
		while (done < bytes.size() && !stop) {
			ssize_t k = write(pty.master(), bytes.data() + done,
			                  std::min<size_t>(bytes.size() - done, 4096));
			if (k > 0) {
				done += (size_t)k;
			} else {
				pollfd p = {pty.master(), POLLOUT, 0};
				poll(&p, 1, 100);
			}
		}
	});
	Bytes got = drain(h, bytes.size());
	stop = true;
	writer.join();
	ASSERT_EQ(got.size(), bytes.size());
	EXPECT_TRUE(got == bytes);
	expect_idle_waits_briefly(h);
}

TEST_F(TtyPorts, PurgeEmptiesTheReceiveQueue)
{
	FT_HANDLE h = plug_and_open();
	write_master(pattern(100));
	uint32_t waiting = 0;
	auto start = Clock::now();
	while (waiting < 100 && ms_since(start) < 2000)
		ASSERT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);
	ASSERT_EQ(waiting, 100u);
	ASSERT_EQ(FT_Purge(h, FT_PURGE_RX), FT_OK);
	ASSERT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);
	EXPECT_EQ(waiting, 0u);
	write_master(Bytes{'x', 'y', 'z'});
	EXPECT_EQ(drain(h, 3), (Bytes{'x', 'y', 'z'}));
}

TEST_F(TtyPorts, HungUpPortFailsTheNextCall)
{
	FT_HANDLE h = plug_and_open();
	write_master(Bytes{1, 2, 3});
	EXPECT_EQ(drain(h, 3), (Bytes{1, 2, 3}));
	pty.hang_up();  // the board unplugged
	uint32_t waiting = 5, got = 5;
	unsigned char b[4];
	EXPECT_EQ(FT_GetQueueStatus(h, &waiting), FT_IO_ERROR);
	EXPECT_EQ(waiting, 0u);
	EXPECT_EQ(FT_Read(h, b, sizeof b, &got), FT_IO_ERROR);
	EXPECT_EQ(got, 0u);
}

TEST_F(TtyPorts, PortInUseCannotBeOpenedAgain)
{
	FT_HANDLE h = plug_and_open();
	FT_HANDLE again;
	EXPECT_EQ(FT_Open(3, &again), FT_DEVICE_NOT_OPENED);
	// A second copy of the program: another process, root or not.
	pid_t child = fork();
	ASSERT_GE(child, 0);
	if (child == 0) {
		d2xx_reset();
		uint32_t n;
		FT_HANDLE mine;
		bool refused =
		        FT_CreateDeviceInfoList(&n) == FT_OK && FT_Open(3, &mine) == FT_DEVICE_NOT_OPENED;
		_exit(refused ? 0 : 1);
	}
	int status = 0;
	ASSERT_EQ(waitpid(child, &status, 0), child);
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
	// The first keeps working.
	write_master(Bytes{7});
	EXPECT_EQ(drain(h, 1), Bytes{7});
}

TEST_F(TtyPorts, MissingDeviceNodeFailsTheOpen)
{
	uint32_t n;
	ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
	FT_HANDLE h = &h;
	EXPECT_EQ(FT_Open(1, &h), FT_DEVICE_NOT_OPENED);  // no DEV/ttyUSB2
	EXPECT_EQ(h, nullptr);
	// Not a terminal at all.
	write_file(dev / "ttyUSB2", "");
	EXPECT_EQ(FT_Open(1, &h), FT_DEVICE_NOT_OPENED);
	// Replugged between the listing and the open: the name is another
	// terminal's now, which must not be set up.
	sysfs.plug(10, pty);
	ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
	support::Pty other;
	fs::remove(dev / "ttyUSB10");
	fs::create_symlink(other.name(), dev / "ttyUSB10");
	EXPECT_EQ(FT_Open(3, &h), FT_DEVICE_NOT_OPENED);
}

}  // namespace
