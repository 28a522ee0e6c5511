#include "stream/decoder.h"

#include "display/display_list.h"
#include "font/stroker.h"

uint16_t gx1 = 0;
uint16_t gy1 = 0;
uint16_t CharacterAttributes = 0;

static void graphics(uint16_t word)
{
	uint16_t value = word & value_mask;
	uint16_t color = (word & color_field) >> 11;

	switch (word & graphics_opcode_mask) {
	case OP_SET_X:
		gx1 = value;
		break;
	case OP_SET_Y:
		gy1 = value;
		break;
	case OP_MOVE_X:
		gx1 = value;
		GoTo(color, gx1, gy1);
		break;
	case OP_MOVE_Y:
		gy1 = value;
		GoTo(color, gx1, gy1);
		break;
	case OP_DRAW_X:
		gx1 = value;
		Draw(gx1, gy1);
		break;
	case OP_DRAW_Y:
		gy1 = value;
		Draw(gx1, gy1);
		break;
	default:  // 0x6000 and 0x6400 mean nothing
		break;
	}
}

static void control(uint16_t word)
{
	switch (word & control_opcode_mask) {
	case OP_CLEAR:
		ClearList();
		break;
	case OP_END_FRAME:
		sw_wait = 1;
		EndFrame();
		break;
	case OP_ATTRIBUTES:
		CharacterAttributes = word & attribute_mask;
		break;
	case OP_CHARACTER:
		CharacterStroker(word & 0xFF, CharacterAttributes);
		break;
	default:
		break;
	}
}

void Parse(uint16_t word)
{
	if ((word & control_bit) == 0)
		graphics(word);
	else
		control(word);
}
