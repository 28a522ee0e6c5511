#include "stream/decoder.h"

#include "display/display_list.h"
#include "font/stroker.h"

static void graphics(uint16_t word)
{
	uint16_t value = word & VW_VALUE_MASK;
	uint16_t color = (word & VW_COLOUR_MASK) >> VW_COLOUR_SHIFT;

	switch (word & VW_GRAPHICS_OPCODE_MASK) {
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
	switch (word & VW_CONTROL_OPCODE_MASK) {
	case OP_CLEAR:
		ClearList();
		break;
	case OP_END_FRAME:
		sw_wait = 1;
		EndFrame();
		break;
	case OP_ATTRIBUTES:
		CharacterAttributes = word & VW_ATTRIBUTE_MASK;
		break;
	case OP_CHARACTER:
		CharacterStroker(word & VW_OPERAND_MASK, CharacterAttributes);
		break;
	default:
		break;
	}
}

void Parse(uint16_t word)
{
	if ((word & VW_CONTROL_BIT) == 0)
		graphics(word);
	else
		control(word);
}
