// The built-in stroke font: one glyph for each code 32..127 on a grid five
// columns wide and twelve rows high.  A glyph is a run of (code, y) pairs
// ended by a single -1: x = code & 7, code > 7 is a pen-up point.
#pragma once

#include <cstdint>

constexpr int n_glyphs = 96;  // codes 32..127; entry 95 (DEL) stands in for every other code

extern const int32_t *const cptrs[n_glyphs];
