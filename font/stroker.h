// The character stroker: one glyph of the built-in font at the pen, scaled,
// turned and coloured by the attribute byte, then the pen advances.
#pragma once

#include <cstdint>

// Working state of the character being stroked; meaningless between characters.
extern const int32_t *cptr;  // read cursor in the current glyph array
extern int32_t xx;           // offset of the current point from the glyph origin,
extern int32_t yy;           //   after scaling and rotation (plot units)

void CharacterStroker(uint16_t ch, uint16_t attr);
void draw_char(int32_t x0, int32_t y0, int32_t size, int32_t rotation, int32_t colour, uint8_t ch);
void dr_char(int32_t x0, int32_t y0, int32_t size, int32_t rotation, int32_t colour, const int32_t *glyph);
int32_t getxy(int32_t size, int32_t rotation);  // -1 end of glyph, 1 pen-up, 0 pen-down
