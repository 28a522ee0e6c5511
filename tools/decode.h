// velmora-decode's core: bytes go through the display program's own framer,
// decoder, display list and stroker, and what they do is written out, word
// by word (the listing) or as the display list at every end of frame (the
// records).  The caller reads the input and provides error_exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "tools/source.h"

void decode_begin(FILE *out, bool sw_records);            // before the first byte
void decode_bytes(const unsigned char *bytes, size_t n);  // the next n bytes of the stream
void decode_end();                                        // end of input: the closing lines
