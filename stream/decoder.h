// Instruction words: decoded one at a time, in arrival order, each carried
// out completely before the next byte is read.  The word format and the
// opcodes are in stream/words.h; the pen in common/pen.h.
#pragma once

#include <cstdint>

#include "common/pen.h"
#include "stream/words.h"

void Parse(uint16_t word);
