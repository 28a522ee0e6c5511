#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <gtest/gtest.h>

#include "tests/doubles/ftd2xx_double.h"
#include "tests/doubles/halt_double.h"
#include "tests/support/files.h"
#include "common/platform.h"
#include "usb/usb_link.h"

namespace
{

using Calls = std::vector<std::string>;

std::string device_lines(int i, const FtFakeDevice &d)
{
	char s[512];
	snprintf(s, sizeof s,
	         "Dev : %d:\n  Flags=0x%x\n  Type=0x%x\n  ID=0x%x\n  LocId=0x%x\n  SerialNumber=%s\n"
	         "  Description=%s\n  ftHandle=0x0\n",
	         i, d.flags, d.type, d.id, d.loc_id, d.serial.c_str(), d.description.c_str());
	return s;
}

FtFakeDevice device(const char *description, const char *serial = "S0", uint32_t loc = 0)
{
	FtFakeDevice d;
	d.description = description;
	d.serial = serial;
	d.loc_id = loc;
	return d;
}

const Calls setup_after_open = {"FT_GetDeviceInfo()",
                                "FT_ResetDevice()",
                                "FT_SetBaudRate(1500000)",
                                "FT_SetFlowControl(256,0,0)",
                                "FT_SetDataCharacteristics(8,0,0)",
                                "FT_SetUSBParameters(16384,0)",
                                "FT_Purge(3)"};

class UsbSetup : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		ft_reset();
		halt_count = 0;
		buffer_count = 0;
		buffer_ptr = buffer;
	}

	// Runs the set-up in the test's process; returns its console output and
	// whether it halted.
	static std::string run(bool *halted = nullptr)
	{
		testing::internal::CaptureStdout();
		bool h = false;
		try {
			USB_direct_initialize();
		} catch (const Halted &) {
			h = true;
		}
		if (halted)
			*halted = h;
		return testing::internal::GetCapturedStdout();
	}

	// For the paths that end the process: the console output of a child
	// that must exit with status 1, its stderr matching err.
	static std::string run_expecting_exit(const char *err = "")
	{
		// ctest runs the tests of this file side by side: one file each.
		const std::string path = testing::TempDir() + "usb_setup_exit_" +
		                         testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
		                         std::to_string(getpid()) + ".txt";
		EXPECT_EXIT(
		        {
			        if (!freopen(path.c_str(), "w", stdout))
				        _exit(99);
			        setvbuf(stdout, nullptr, _IONBF, 0);
			        USB_direct_initialize();
			        _exit(0);
		        },
		        testing::ExitedWithCode(1), err);
		std::string out = support::read_file(path);
		unlink(path.c_str());
		return out;
	}
};

TEST_F(UsbSetup, NoDevicesEndsWithStatusOne)
{
	EXPECT_EQ(run_expecting_exit(),
	          "USB_direct(19Jun2012 qz)\nNumber of devices is 0\nError: need a device to use!\n");
}

TEST_F(UsbSetup, OneDeviceIsListedOpenedAndSetUp)
{
	ft.devices = {device("FT232R USB UART", "A9XYZ", 0x214)};
	bool halted;
	EXPECT_EQ(run(&halted),
	          "USB_direct(19Jun2012 qz)\nNumber of devices is 1\n" + device_lines(0, ft.devices[0]) +
	                  "  ***** FT232R USB UART found as device 0\n"
	                  "device 0 opened\n"
	                  "Device: 00000005  Device ID: 04036001\nSN: A9XYZ  Description: FT232R USB UART\n"
	                  "device 0 reset\n"
	                  "set baud rate: 1500000\n");
	EXPECT_FALSE(halted);
	Calls expected = {"FT_CreateDeviceInfoList()", "FT_GetDeviceInfoDetail(0)", "FT_Open(0)"};
	expected.insert(expected.end(), setup_after_open.begin(), setup_after_open.end());
	EXPECT_EQ(ft_calls, expected);
}

TEST_F(UsbSetup, TheLastMatchingDeviceIsOpened)
{
	ft.devices = {device("FT232R USB UART", "A"), device("FT2232H", "B"), device("FT232R USB UART", "C")};
	std::string out = run();
	EXPECT_EQ(out.substr(0, out.find("device 2 opened")),
	          "USB_direct(19Jun2012 qz)\nNumber of devices is 3\n" + device_lines(0, ft.devices[0]) +
	                  "  ***** FT232R USB UART found as device 0\n" + device_lines(1, ft.devices[1]) +
	                  device_lines(2, ft.devices[2]) + "  ***** FT232R USB UART found as device 2\n");
	EXPECT_NE(out.find("device 2 opened\nDevice: 00000005  Device ID: 04036001\nSN: C  Description: "
	                   "FT232R USB UART\ndevice 2 reset\n"),
	          std::string::npos);
	EXPECT_EQ(ft_calls[4], "FT_Open(2)");
}

TEST_F(UsbSetup, NearMissDescriptionsDoNotMatch)
{
	ft.devices = {device("FT232R USB UART "), device("ft232r usb uart"), device("FT232R USB UARTX"),
	              device("FT232R")};
	std::string out = run_expecting_exit();
	EXPECT_EQ(out.find("*****"), std::string::npos);
	EXPECT_NE(out.find(device_lines(3, ft.devices[3]) + "FT232R USB UART not found\n"),
	          std::string::npos);
}

TEST_F(UsbSetup, FailedEnumerationCountsNoDevices)
{
	ft.devices = {device("FT232R USB UART")};
	ft.fail_call["FT_CreateDeviceInfoList"] = 0;  // and it leaves 7 in the count
	// stderr names the failed call, which the console's line does not.
	EXPECT_EQ(run_expecting_exit("FT_CreateDeviceInfoList returned 4 \\(FT_IO_ERROR\\)"),
	          "USB_direct(19Jun2012 qz)\nFT232R USB UART not found\n");
}

TEST_F(UsbSetup, EachFailingStepHaltsWithItsLineAndGoesNoFurther)
{
	const struct {
		const char *op;
		const char *line;
	} steps[] = {
	        {"FT_Open", "could not open ft device\n"},
	        {"FT_GetDeviceInfo", "could not get device info\n"},
	        {"FT_ResetDevice", "could not reset the device\n"},
	        {"FT_SetBaudRate", "could not set the baud rate: 1500000\n"},
	        {"FT_SetFlowControl", "could not set up the flow control\n"},
	        {"FT_SetDataCharacteristics", "could not set up the data characteristics\n"},
	        {"FT_SetUSBParameters", "could not set transfer size\n"},
	        {"FT_Purge", "could not purge the RX and TX buffers\n"},
	};
	for (const auto &s : steps) {
		SCOPED_TRACE(s.op);
		ft_reset();
		ft.devices = {device("FT232R USB UART")};
		ft.fail_call[s.op] = 0;
		bool halted;
		std::string out = run(&halted);
		EXPECT_TRUE(halted);
		std::string tail = std::string(s.line) + "close window to exit\n";
		ASSERT_GE(out.size(), tail.size());
		EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
		ASSERT_FALSE(ft_calls.empty());
		EXPECT_EQ(ft_calls.back().substr(0, ft_calls.back().find('(')), s.op);  // nothing after it
	}
}

TEST_F(UsbSetup, FailedDeviceQueryStopsTheListing)
{
	ft.devices = {device("FT232R USB UART"), device("FT232R USB UART"), device("X")};
	ft.fail_call["FT_GetDeviceInfoDetail"] = 1;
	bool halted;
	EXPECT_EQ(run(&halted), "USB_direct(19Jun2012 qz)\nNumber of devices is 3\n" +
	                                device_lines(0, ft.devices[0]) +
	                                "  ***** FT232R USB UART found as device 0\n"
	                                "could not get device info\nclose window to exit\n");
	EXPECT_TRUE(halted);
	EXPECT_EQ(ft_calls.back(), "FT_GetDeviceInfoDetail(1)");
}

TEST_F(UsbSetup, StringsWithoutTerminatorArePrintedWithinTheirArrays)
{
	ft.devices = {device("FT232R USB UART")};
	ft.unterminated_strings = true;
	std::string out = run_expecting_exit();  // a description of 63 Z's does not match
	EXPECT_NE(out.find("  SerialNumber=" + std::string(15, 'Z') +
	                   "\n  Description=" + std::string(63, 'Z') + "\n"),
	          std::string::npos);
}

TEST_F(UsbSetup, SuccessLeavesTheReaderEmpty)
{
	ft.devices = {device("FT232R USB UART")};
	buffer_count = 17;
	buffer_ptr = buffer + 99;
	run();
	EXPECT_EQ(buffer_count, 0);
	EXPECT_EQ(buffer_ptr, buffer);
}

class ByteReader : public UsbSetup
{
      protected:
	static int reads_of(uint32_t n)
	{
		return (int)std::count(ft_calls.begin(), ft_calls.end(),
		                       "FT_Read(" + std::to_string(n) + ")");
	}
};

TEST_F(ByteReader, EmptyQueueGivesNoByteWithoutARead)
{
	buffer_ptr = buffer + 5;
	EXPECT_EQ(drchar(), NO_BYTE);
	EXPECT_EQ(ft_calls, Calls{"FT_GetQueueStatus()"});
	EXPECT_EQ(buffer_count, 0);
	EXPECT_EQ(buffer_ptr, buffer + 5);
}

TEST_F(ByteReader, HighBytesAreNotSignExtended)
{
	ft.rx = {0xFF, 0x80, 0x00};
	EXPECT_EQ(drchar(), 255);
	EXPECT_EQ(drchar(), 128);
	EXPECT_EQ(drchar(), 0);
	EXPECT_EQ(drchar(), NO_BYTE);
}

TEST_F(ByteReader, ReadsBlocksOf4096AndQueriesOnlyWhenEmpty)
{
	for (int i = 0; i < 5000; i++)
		ft.rx.push_back((uint8_t)(i * 7));
	for (int i = 0; i < 4096; i++)
		ASSERT_EQ(drchar(), (uint8_t)(i * 7));
	EXPECT_EQ(ft_calls, (Calls{"FT_GetQueueStatus()", "FT_Read(4096)"}));
	ft.rx.push_back(0x42);  // arrives meanwhile
	for (int i = 4096; i < 5000; i++)
		ASSERT_EQ(drchar(), (uint8_t)(i * 7));
	EXPECT_EQ(drchar(), 0x42);
	EXPECT_EQ(ft_calls,
	          (Calls{"FT_GetQueueStatus()", "FT_Read(4096)", "FT_GetQueueStatus()", "FT_Read(905)"}));
}

TEST_F(ByteReader, ExactlyOneBlockIsOneRead)
{
	ft.rx.assign(4096, 1);
	for (int i = 0; i < 4096; i++)
		drchar();
	EXPECT_EQ(reads_of(4096), 1);
	EXPECT_EQ(ft_calls.size(), 2u);
}

TEST_F(ByteReader, ShortReadsHandOutOnlyWhatWasStored)
{
	ft.rx = {1, 2, 3, 4, 5};
	ft.read_limit = 2;
	EXPECT_EQ(drchar(), 1);
	EXPECT_EQ(drchar(), 2);
	EXPECT_EQ(drchar(), 3);  // refilled from the start of the buffer
	EXPECT_EQ(buffer_ptr, buffer + 1);
	ft.read_limit = 0;
	ft.rx = {9};
	drchar();
	EXPECT_EQ(drchar(), NO_BYTE);  // a read that stores nothing
	EXPECT_EQ(ft_calls.back(), "FT_Read(1)");
	ft.read_limit = 5;
	EXPECT_EQ(drchar(), 9);  // and the next call asks again
}

TEST_F(ByteReader, ClaimOfMoreBytesThanAskedIsNotBelieved)
{
	ft.rx = {1, 2, 3};
	ft.report_extra = 100000;
	for (int i = 1; i <= 3; i++)
		EXPECT_EQ(drchar(), i);
	EXPECT_EQ(buffer_count, 0);
	EXPECT_EQ(drchar(), NO_BYTE);
}

TEST_F(ByteReader, DeviceFailuresHaltWithTheirLine)
{
	ft.fail_call["FT_GetQueueStatus"] = 0;
	testing::internal::CaptureStdout();
	EXPECT_THROW(drchar(), Halted);
	EXPECT_EQ(testing::internal::GetCapturedStdout(),
	          "could not read queue information\nclose window to exit\n");

	ft_reset();
	ft.rx = {1};
	ft.fail_call["FT_Read"] = 0;
	testing::internal::CaptureStdout();
	EXPECT_THROW(drchar(), Halted);
	EXPECT_EQ(testing::internal::GetCapturedStdout(), "could not read value\nclose window to exit\n");
}

}  // namespace
