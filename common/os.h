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
constexpr int os_binary = O_BINARY;  // bytes as they are: no CR added or taken
// Signals that end the program from outside: the console's Ctrl-C and
// Ctrl-Break, and a termination.
constexpr int os_end_signals[] = {SIGINT, SIGBREAK, SIGTERM};
#else
#include <csignal>
constexpr int os_binary = 0;
// Signals that end the program from outside: the terminal's Ctrl-C, a
// hang-up, a termination.
constexpr int os_end_signals[] = {SIGINT, SIGTERM, SIGHUP};
#endif
