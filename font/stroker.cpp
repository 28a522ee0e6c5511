#include "font/stroker.h"

#include "display/display_list.h"
#include "font/glyphs.h"
#include "common/pen.h"

const int32_t *cptr = nullptr;
int32_t xx = 0;
int32_t yy = 0;

constexpr int32_t first_code = 32;   // the space, glyph 0
constexpr uint32_t last_glyph = 95;  // DEL, drawn for every code outside 32..127

int32_t getxy(int32_t size, int32_t rotation)
{
	int32_t code = *cptr++;
	if (code < 0)
		return -1;
	int32_t y = *cptr++;

	// Scale with halves rounded up; arithmetic shift.
	int32_t x = ((code & 7) * size + 1) >> 1;
	y = (y * size + 1) >> 1;

	switch (rotation) {
	case 1:  // quarter turn anticlockwise: writing runs upward
		xx = -y;
		yy = x;
		break;
	case 2:  // half turn: writing runs to the left
		xx = -x;
		yy = -y;
		break;
	case 3:  // quarter turn clockwise: writing runs downward
		xx = y;
		yy = -x;
		break;
	default:
		xx = x;
		yy = y;
		break;
	}
	return code > 7 ? 1 : 0;
}

// Sums are cut to 16 bits first, so a point left of the origin wraps to a
// large value and GoTo/Draw clamp it to the far edge.
static uint16_t place(int32_t offset, int32_t origin)
{
	return (uint16_t)(uint32_t)(offset + origin);
}

void dr_char(int32_t x0, int32_t y0, int32_t size, int32_t rotation, int32_t colour, const int32_t *glyph)
{
	cptr = glyph;
	if (getxy(size, rotation) == -1)
		return;
	GoTo((uint16_t)colour, place(xx, x0), place(yy, y0));
	for (;;) {
		int32_t pen = getxy(size, rotation);
		if (pen == -1)
			return;
		if (pen == 1)
			GoTo((uint16_t)colour, place(xx, x0), place(yy, y0));
		else
			Draw(place(xx, x0), place(yy, y0));
	}
}

void draw_char(int32_t x0, int32_t y0, int32_t size, int32_t rotation, int32_t colour, uint8_t ch)
{
	uint32_t index = (uint8_t)(ch - first_code);
	if (index > last_glyph)
		index = last_glyph;
	dr_char(x0, y0, size, rotation, colour, cptrs[index]);
}

void CharacterStroker(uint16_t ch, uint16_t attr)
{
	int32_t size = attr & 7;
	int32_t rotation = (attr & 0x60) >> 5;
	int32_t colour = (attr >> 3) & 3;

	draw_char(gx1, gy1, size, rotation, colour, (uint8_t)(ch & 0xFF));

	uint16_t advance = (uint16_t)(size * 7 / 2);
	switch (rotation) {
	case 0:
		gx1 = (uint16_t)(gx1 + advance);
		break;
	case 1:
		gy1 = (uint16_t)(gy1 + advance);
		break;
	case 2:
		gx1 = (uint16_t)(gx1 - advance);
		break;
	default:
		gy1 = (uint16_t)(gy1 - advance);
		break;
	}
}
