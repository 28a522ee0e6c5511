// The few POSIX names the program's own files use that Windows' C library
// spells otherwise or lacks: one place, so that no other file needs a
// platform test.
#pragma once

#include <fcntl.h>

#ifdef _WIN32
#include <io.h>
#ifndef O_CLOEXEC
#define O_CLOEXEC 0  // handles are inherited only when asked for
#endif
#ifndef O_NOCTTY
#define O_NOCTTY 0  // no controlling terminals
#endif
#include <csignal>
#include <cstdio>
constexpr int os_binary = O_BINARY;  // bytes as they are: no CR added or taken
// Signals that end the program from outside: the console's Ctrl-C and
// Ctrl-Break, and a termination.
constexpr int os_end_signals[] = {SIGINT, SIGBREAK, SIGTERM};
// Standard input, output and error as bytes: a line's end stays "\n".
inline void os_bytes_stdio()
{
	_setmode(_fileno(stdin), O_BINARY);
	_setmode(_fileno(stdout), O_BINARY);
	_setmode(_fileno(stderr), O_BINARY);
}
// A second descriptor of fd, not inherited by child processes.
inline int os_dup(int fd)
{
	return _dup(fd);
}
// Writing to a reader that has gone fails the write: no signal to ignore.
inline void os_quiet_pipes() {}
// Windows' own words for an error code (GetLastError, WSAGetLastError),
// without the line end and the full stop (os_win32.cpp).
const char *os_error_text(unsigned long code);
constexpr const char *os_null = "NUL";  // the device that takes every byte
#else
#include <unistd.h>

#include <csignal>
constexpr int os_binary = 0;
// Signals that end the program from outside: the terminal's Ctrl-C, a
// hang-up, a termination.
constexpr int os_end_signals[] = {SIGINT, SIGTERM, SIGHUP};
inline void os_bytes_stdio() {}
inline int os_dup(int fd)
{
	return fcntl(fd, F_DUPFD_CLOEXEC, 3);
}
// Writing to a reader that has gone fails the write instead of ending the
// process.
inline void os_quiet_pipes()
{
	signal(SIGPIPE, SIG_IGN);
}
constexpr const char *os_null = "/dev/null";  // the device that takes every byte
#endif
