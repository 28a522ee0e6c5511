#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/platform.h"
#include "usb/usb_link.h"

static char SerialNumber[ft_serial_size];
static char Description[ft_description_size];
static FT_HANDLE ftHandleTemp;
static FT_DEVICE ftDevice;
static uint32_t deviceID;
static uint32_t InTransferSize;

static const char wanted_description[] = "FT232R USB UART";

// Whatever the library leaves in them, the strings end inside their arrays.
static void terminate_strings()
{
	SerialNumber[sizeof SerialNumber - 1] = '\0';
	Description[sizeof Description - 1] = '\0';
}

// The device library's name of a status, for a person on stderr.
static const char *status_name(FT_STATUS s)
{
	static const char *const names[] = {
	        "FT_OK",       "FT_INVALID_HANDLE",         "FT_DEVICE_NOT_FOUND",  "FT_DEVICE_NOT_OPENED",
	        "FT_IO_ERROR", "FT_INSUFFICIENT_RESOURCES", "FT_INVALID_PARAMETER", "FT_INVALID_BAUD_RATE"};
	if (s < sizeof names / sizeof names[0])
		return names[s];
	return s == FT_NOT_SUPPORTED ? "FT_NOT_SUPPORTED" : "an unknown status";
}

[[noreturn]] static void fail(const char *line)
{
	fputs(line, stdout);
	error_exit();
}

void USB_direct_initialize()
{
	uint32_t numDevs = 0;  // stays 0 if the enumeration fails
	uint32_t flags, type, id, locId;
	int32_t selected = -1;
	// With several boards plugged in, VELMORA_SERIAL picks one of them.
	const char *wanted_serial = getenv("VELMORA_SERIAL");
	if (wanted_serial && !*wanted_serial)
		wanted_serial = nullptr;

	printf("USB_direct(19Jun2012 qz)\n");

	ftStatus = FT_CreateDeviceInfoList(&numDevs);
	if (ftStatus == FT_OK) {
		printf("Number of devices is %d\n", (int)numDevs);
		if (numDevs == 0) {
			printf("Error: need a device to use!\n");
			exit(1);
		}
	} else {
		// The console says only that no board was found.
		fprintf(stderr,
		        "velmora: the devices could not be listed: FT_CreateDeviceInfoList returned %u "
		        "(%s)\n",
		        ftStatus, status_name(ftStatus));
		numDevs = 0;
	}

	for (uint32_t i = 0; i < numDevs; i++) {
		flags = type = id = locId = 0;
		ftHandleTemp = nullptr;
		ftStatus = FT_GetDeviceInfoDetail(i, &flags, &type, &id, &locId, SerialNumber, Description,
		                                  &ftHandleTemp);
		terminate_strings();
		if (ftStatus != FT_OK)
			fail("could not get device info\n");
		printf("Dev : %d:\n", (int)i);
		printf("  Flags=0x%x\n", flags);
		printf("  Type=0x%x\n", type);
		printf("  ID=0x%x\n", id);
		printf("  LocId=0x%x\n", locId);
		printf("  SerialNumber=%s\n", SerialNumber);
		printf("  Description=%s\n", Description);
		printf("  ftHandle=0x%x\n", (unsigned)(uintptr_t)ftHandleTemp);
		if (strcmp(Description, wanted_description) == 0 &&
		    (!wanted_serial || strcmp(SerialNumber, wanted_serial) == 0)) {
			selected = (int32_t)i;
			printf("  ***** FT232R USB UART found as device %d\n", (int)i);
		}
	}

	if (selected == -1) {
		if (wanted_serial)
			fprintf(stderr,
			        "velmora: no FT232R USB UART has the serial number \"%s\" (VELMORA_SERIAL)\n",
			        wanted_serial);
		printf("FT232R USB UART not found\n");
		exit(1);
	}

	ftStatus = FT_Open(selected, &ftHandle);
	if (ftStatus != FT_OK)
		fail("could not open ft device\n");
	printf("device %d opened\n", (int)selected);

	ftStatus = FT_GetDeviceInfo(ftHandle, &ftDevice, &deviceID, SerialNumber, Description, nullptr);
	terminate_strings();
	if (ftStatus != FT_OK)
		fail("could not get device info\n");
	printf("Device: %08X  Device ID: %08X\nSN: %s  Description: %s\n", ftDevice, deviceID, SerialNumber,
	       Description);

	ftStatus = FT_ResetDevice(ftHandle);
	if (ftStatus != FT_OK)
		fail("could not reset the device\n");
	printf("device %d reset\n", (int)selected);

	ftStatus = FT_SetBaudRate(ftHandle, baud_rate);
	if (ftStatus != FT_OK) {
		printf("could not set the baud rate: %u\n", baud_rate);
		error_exit();
	}
	printf("set baud rate: %u\n", baud_rate);

	ftStatus = FT_SetFlowControl(ftHandle, FT_FLOW_RTS_CTS, 0, 0);
	if (ftStatus != FT_OK)
		fail("could not set up the flow control\n");

	ftStatus = FT_SetDataCharacteristics(ftHandle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE);
	if (ftStatus != FT_OK)
		fail("could not set up the data characteristics\n");

	InTransferSize = in_transfer_size;
	ftStatus = FT_SetUSBParameters(ftHandle, InTransferSize, out_transfer_size);
	if (ftStatus != FT_OK)
		fail("could not set transfer size\n");

	ftStatus = FT_Purge(ftHandle, FT_PURGE_RX | FT_PURGE_TX);
	if (ftStatus != FT_OK)
		fail("could not purge the RX and TX buffers\n");

	buffer_count = 0;
	buffer_ptr = buffer;
}
