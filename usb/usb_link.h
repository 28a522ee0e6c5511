// The USB link: device discovery and set-up at start, then a buffered,
// never-waiting byte reader over the device's receive queue.
#pragma once

#include <cstdint>

#include "common/config.h"
#include "d2xx/ftd2xx.h"

extern unsigned char buffer[read_block + 1];  // receive buffer; refills write the first 4096 bytes
extern unsigned char *buffer_ptr;             // next unread byte
extern int32_t buffer_count;                  // unread bytes from buffer_ptr on, 0..4096
extern FT_HANDLE ftHandle;                    // the open device, set by USB_direct_initialize
extern FT_STATUS ftStatus;                    // status of the latest device call
extern uint64_t bytes_received;               // bytes read from the device since start, as captured
// Bytes drchar has handed out since start: the offset of the next one.
uint64_t bytes_handed_out();
// The line drchar said before it halted ("could not read value"), else nullptr.
extern const char *usb_failure;

// drchar (common/platform.h) hands out the received bytes; it halts on a
// device failure.
// Sleeps until the device may have bytes, fd (if >= 0) is readable, or
// timeout_us microseconds have passed.  A failure here shows in drchar's
// next query.
void usb_wait(int fd, int64_t timeout_us);
void USB_direct_initialize();  // find, open and set up the board's FT232R; exits or halts on failure
