// The pen registers and the text attributes: set by the decoder, used and
// advanced by the stroker.  Below both, so neither reaches into the other.
#pragma once

#include <cstdint>

extern uint16_t gx1;                  // pen x; set from words, advanced by the stroker with 16-bit wrap
extern uint16_t gy1;                  // pen y; likewise
extern uint16_t CharacterAttributes;  // attribute byte, 0..127, of every following character
