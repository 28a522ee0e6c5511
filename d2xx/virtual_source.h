// The virtual board's source of bytes, one implementation per platform
// (virtual_source_posix.cpp, virtual_source_win32.cpp): a file, a fifo, or
// TCP clients on 127.0.0.1, one at a time.  backend_virtual.cpp keeps the
// queue, the rate and the settings, and reads through these alone.
#pragma once

#include <cstddef>
#include <cstdint>

enum source_kind { source_file, source_fifo, source_tcp };

// Opens what VELMORA_BOARD named: for tcp, the listening socket on
// 127.0.0.1:port; else path.  False with the reason said on stderr.
// *regular: path is a regular file, whose end is final.
bool source_open(source_kind kind, const char *path, uint16_t port, bool *regular);
void source_close();
// Reads up to n bytes that are there now: their number; 0 at the end of a
// file or stream; source_none when none are there yet (a TCP client ended
// or not yet come: the next one is taken when it comes); source_failed on
// a failure, said on stderr.
constexpr long source_none = -1, source_failed = -2;
long source_read(void *buf, size_t n);
// True when path is the file or fifo the open source reads (never for tcp).
bool source_reads_from(const char *path);
// Sleeps until fd (>= 0) is readable, the source may have bytes (when
// sw_watch), the window system has something to say (on Windows, where
// the device's wait watches the window's messages too), or timeout_us.
void source_wait(int fd, bool sw_watch, int64_t timeout_us);
