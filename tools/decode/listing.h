// velmora-decode's core: bytes go through the display program's own framer,
// decoder, display list and stroker, and what they do is written out, word
// by word (the listing) or as the display list at every end of frame (the
// records).  The caller reads the input and provides error_exit, which
// calls decode_halt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "tools/toolkit/replay.h"

void decode_begin(FILE *out, bool sw_records);            // before the first byte
void decode_bytes(const unsigned char *bytes, size_t n);  // the next n bytes of the stream
void decode_end();                                        // end of input: the closing lines

// The display program's halt, from the caller's error_exit.  While listing
// it goes back into decode_bytes, which notes the halt after the word that
// caused it in '#' lines and lists every later byte as never read, so the
// listing still encodes back to the whole stream.  With records it returns:
// their contract is the program's own two lines, then the end.
void decode_halt();
bool decode_halted();  // the display halted: nothing after was read
