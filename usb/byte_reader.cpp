#include <cstdio>

#include "common/platform.h"
#include "usb/capture.h"
#include "usb/usb_link.h"

unsigned char buffer[read_block + 1];
unsigned char *buffer_ptr = buffer;
int32_t buffer_count = 0;
FT_HANDLE ftHandle = nullptr;
FT_STATUS ftStatus = FT_OK;
uint64_t bytes_received = 0;
const char *usb_failure = nullptr;

[[noreturn]] static void fail(const char *line)
{
	usb_failure = line;
	printf("%s\n", line);
	error_exit();
}

uint64_t bytes_handed_out()
{
	return bytes_received - (uint64_t)buffer_count;
}

// Hands out the buffered bytes without a device call; only an empty buffer
// asks the device, and then for at most one block of what is already there.
uint16_t drchar()
{
	if (buffer_count == 0) {
		uint32_t dwAmountinRxQueue = 0;
		ftStatus = FT_GetQueueStatus(ftHandle, &dwAmountinRxQueue);
		if (ftStatus != FT_OK)
			fail("could not read queue information");
		if (dwAmountinRxQueue == 0)
			return NO_BYTE;

		uint32_t n = dwAmountinRxQueue <= read_block ? dwAmountinRxQueue : read_block;
		uint32_t received = 0;
		ftStatus = FT_Read(ftHandle, buffer, n, &received);
		if (ftStatus != FT_OK)
			fail("could not read value");
		// A library that claims more than was asked for is not believed
		// beyond what was asked: the buffer holds no more.
		if (received > n)
			received = n;
		buffer_count = (int32_t)received;
		bytes_received += received;
		buffer_ptr = buffer;
		capture_bytes(buffer, received);
		if (received == 0)
			return NO_BYTE;
	}
	buffer_count--;
	return *buffer_ptr++;
}
