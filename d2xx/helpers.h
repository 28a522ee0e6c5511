// What the backends and the front end of the platform layer both use: a
// line for a person on stderr, bounded string copies, a poll in
// microseconds.  It calls neither.
#pragma once

#include <cstddef>
#include <cstdint>

struct pollfd;

// One line for a person on stderr, "velmora: " first.  Never stdout: the
// program's console output is its interface.  Lines said while
// d2xx_counting is on are counted for d2xx_said (d2xx/ftd2xx.h).
void d2xx_note(const char *format, ...) __attribute__((format(printf, 1, 2)));
// On while a device is open: the front end sets it.
void d2xx_counting(bool sw_on);

// poll() with a timeout in microseconds; POSIX only (helpers_posix.cpp).
int d2xx_poll(pollfd *fds, int n, int64_t timeout_us);

// Copies at most size-1 bytes of the len bytes at from, then a NUL.
void d2xx_copy(char *to, size_t size, const char *from, size_t len);

// Windows only (helpers_win32.cpp): sleeps until one of the n handles is
// signalled, the thread has window messages waiting, or timeout_us
// microseconds have passed.  Returns the index of the handle signalled,
// n for messages, -1 for the timeout.
int d2xx_wait_windows(void *const *handles, int n, int64_t timeout_us);
