// The byte source of a tool that reads a stream from a file: the framer
// takes the bytes given, then finds nothing waiting, which ends its call.
// A file has no timing: the clock reads 0, which keeps the silence timer
// from ever starting, so the framing is never dropped, however the bytes
// were captured.  Provides drchar and clock_ms (common/platform.h).
#pragma once

#include <cstddef>
#include <cstdint>

extern uint64_t bytes_read;  // bytes handed to the framer so far; the next one's offset

// The next bytes the framer is to read; any not yet read are forgotten.
void source_give(const unsigned char *bytes, size_t n);
