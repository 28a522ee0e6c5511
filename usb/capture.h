// Capture: with VELMORA_CAPTURE=FILE set, every byte read from the device
// is also written to FILE, in order, as it came, so that what a board sent
// can be decoded or replayed (VELMORA_BOARD=file:FILE) later.  Buffered;
// flushed at least every capture_flush_ms, at a halt and at exit.  A file
// that cannot be opened or written is said once on stderr, and capturing
// stops: the display goes on.  Nothing is destroyed: the board's own file
// is refused, and a file that holds bytes already is kept, the capture
// going to the next free name (board-2.bin, ...), which stderr names.
#pragma once

#include <cstdint>

// Opens the file named by VELMORA_CAPTURE, if any, and sees that the
// process flushes it however it ends (exit, SIGINT, SIGTERM, SIGHUP).
void capture_open();
// The bytes of one read from the device (drchar's refill).
void capture_bytes(const unsigned char *bytes, uint32_t n);
// Writes out what is buffered.  Async-signal-safe.
void capture_flush();
// Writes out what is buffered if capture_flush_ms have passed since the
// last write; the timer calls it.
void capture_tick();
