// What a word says of the stream's health, judged alike by velmora-inspect
// over a file and velmora-serve over the board as it reads: whether the
// decoder has a case for it, and whether its points went beyond the plot.
#pragma once

#include <cstdint>

// A word the decoder drops: an opcode it has no case for.  Filler is one.
bool meaningless(uint16_t w);

// Word w, one with meaning, just taken by the display program, the pen at
// (x0, y0) and the attributes attr before it, at (gx1, gy1) after.  Sets
// *clamp when it stored a coordinate above 1023 (the list cut it to 1023),
// *wrap when a character's point or the pen ran below zero (wrapped to 16
// bits); clears neither.  A character's points are worked out again with
// the stroker's own getxy, which moves its cptr.
void word_edges(uint16_t w, uint16_t x0, uint16_t y0, uint16_t attr, bool *clamp, bool *wrap);
