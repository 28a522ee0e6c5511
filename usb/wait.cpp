// Apart from drchar, so that a byte source of a tool or test that has no
// device to sleep on still links the reader alone.
#include "usb/usb_link.h"

void usb_wait(int fd, int64_t timeout_us)
{
	if (buffer_count == 0)
		d2xx_wait(ftHandle, fd, timeout_us);
}
