// velmora-decode's core: bytes go through the display program's own framer,
// decoder, display list and stroker, and what they do is written out, word
// by word (the listing) or as the display list at every end of frame (the
// records).  The caller reads the input; the bytes are replayed
// (tools/toolkit/replay.h) and a halt comes back as Halt
// (tools/toolkit/halt.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

void decode_begin(FILE *out, bool sw_records);            // before the first byte
void decode_bytes(const unsigned char *bytes, size_t n);  // the next n bytes of the stream
void decode_end();                                        // end of input: the closing lines

// The display halted ("too many commands"): it read nothing after.  The
// listing notes the halt after the word that caused it in '#' lines and
// lists every later byte as never read, so that it still encodes back to
// the whole stream.  The records take no byte more and end with the
// program's own second line, "close window to exit": their contract.
bool decode_halted();
