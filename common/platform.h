// Everything the core (display/, stream/, font/, usb/) asks of the world
// outside it.  The program's usb/ and app/ provide these; a tool, a test or
// a fuzzer links its own.
#pragma once

#include <cstdint>

constexpr uint16_t NO_BYTE = 0x8000;  // drchar: nothing waiting (callers test > 255)

// The byte source: the next received byte 0..255, or NO_BYTE when none is
// waiting.  Never waits.  usb/byte_reader.cpp.
uint16_t drchar();

// Elapsed real time in milliseconds as a signed 32-bit count (wraps); the
// difference of two readings is right across the wrap.  app/clock.cpp.
int32_t clock_ms();

// Halt: the one failure action short of ending the process.  The caller
// has printed its own line; error_exit prints "close window to exit" and
// then no work of any kind is done again.  app/halt.cpp.
[[noreturn]] void error_exit();
