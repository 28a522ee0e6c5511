#include "tools/toolkit/judge.h"

#include "common/pen.h"
#include "display/display_list.h"
#include "font/glyphs.h"
#include "font/stroker.h"
#include "stream/framer.h"
#include "stream/words.h"

constexpr int32_t first_code = 32;   // the stroker's glyph 0
constexpr uint32_t last_glyph = 95;  // DEL, drawn for every other code

static bool meaningless(uint16_t w)
{
	if (w & VW_CONTROL_BIT) {
		unsigned op = w & VW_CONTROL_OPCODE_MASK;
		return op != OP_CLEAR && op != OP_END_FRAME && op != OP_ATTRIBUTES && op != OP_CHARACTER;
	}
	unsigned op = w & VW_GRAPHICS_OPCODE_MASK;
	return op != OP_SET_X && op != OP_SET_Y && op != OP_MOVE_X && op != OP_MOVE_Y && op != OP_DRAW_X &&
	       op != OP_DRAW_Y;
}

// The points of the character just stroked, from the pen it started at:
// below zero or above 1023 before the display list clamped them.
static void character_edges(uint16_t w, uint16_t x0, uint16_t y0, uint16_t attr, bool *clamp, bool *wrap)
{
	uint32_t index = (uint8_t)((w & 0xFF) - first_code);
	if (index > last_glyph)
		index = last_glyph;
	int32_t size = attr & 7, rotation = (attr & 0x60) >> 5;
	cptr = cptrs[index];
	while (getxy(size, rotation) != -1) {
		uint32_t x = (uint32_t)(xx + x0) & 0xFFFF, y = (uint32_t)(yy + y0) & 0xFFFF;
		*wrap |= xx + x0 < 0 || yy + y0 < 0;
		*clamp |= x > max_x || y > max_y;
	}
	// The advance runs the pen down only for rotations 2 and 3.
	*wrap |= gx1 > x0 && (attr & 0x60) == 0x40;
	*wrap |= gy1 > y0 && (attr & 0x60) == 0x60;
}

static void word_edges(uint16_t w, uint16_t x0, uint16_t y0, uint16_t attr, bool *clamp, bool *wrap)
{
	if ((w & VW_CONTROL_BIT) == 0) {
		unsigned op = w & VW_GRAPHICS_OPCODE_MASK;
		if (op != OP_SET_X && op != OP_SET_Y)
			*clamp |= gx1 > max_x || gy1 > max_y;
	} else if ((w & VW_CONTROL_OPCODE_MASK) == OP_CHARACTER) {
		character_edges(w, x0, y0, attr, clamp, wrap);
	}
}

unsigned judge_byte(Judge &j, uint64_t offset, uint8_t c, uint32_t before, uint32_t after)
{
	unsigned seen = seen_nothing;
	// A pair across two words, not followed by filler: a board that sent
	// sync out of step with this framing.
	if (j.step == 2) {
		if (c != 0xFF) {
			j.health.out_of_step++;
			seen |= seen_out_of_step;
		}
		j.step = 0;
	} else if (j.step == 1) {
		j.step = before == state_high && c == 0xFF ? 2 : 0;
	}
	j.last_state = after;
	switch (before) {
	case state_hunting:
		if (after == state_half_sync) {
			j.sync_at = offset;
			return seen;
		}
		j.health.dropped++;
		return seen | seen_dropped;
	case state_half_sync:
		if (after == state_high) {
			j.health.syncs++;
			return seen | seen_sync;
		}
		j.health.dropped += 2;
		return seen | seen_dropped_pair;
	case state_high:
		j.word_at = offset;
		j.high = c;
		return seen;
	default:
		j.word = (uint16_t)(j.high << 8 | c);
		j.health.words++;
		j.last_state = state_high;
		if (c == 0xFF && j.word != VW_FILLER) {
			j.step = 1;
			j.step_word = j.health.words - 1;
		}
		return seen | seen_word;
	}
}

void judge_idle(Judge &j, uint32_t now)
{
	if (now == state_hunting && j.last_state != state_hunting)
		j.health.sync_lost++;
	j.last_state = now;
}

bool judge_end(Judge &j)
{
	bool out = j.step == 2;
	j.health.out_of_step += out;
	j.step = 0;
	return out;
}

unsigned judge_word(Judge &j, uint16_t w, uint16_t x0, uint16_t y0, uint16_t attr)
{
	if (w == VW_FILLER) {
		j.health.filler++;
		return word_filler;
	}
	if (meaningless(w)) {
		j.health.ignored++;
		return word_ignored;
	}
	bool clamp = false, wrap = false;
	word_edges(w, x0, y0, attr, &clamp, &wrap);
	j.health.clamped += clamp;
	j.health.wrapped += wrap;
	return (clamp ? word_clamped : 0) | (wrap ? word_wrapped : 0);
}
