/* Velmora's instruction words, and how a board puts them on the wire.
 *
 * The one description of the stream's encoding: the display program decodes
 * with these constants, and its tools, tests and examples encode with these
 * functions.  It compiles as C99 and as C++17, allocates nothing and needs
 * nothing beyond <stdint.h> and <stddef.h>, so a board's firmware can
 * include it as it is.
 *
 * The stream: the sync pair (two 0xFF bytes), then 16-bit words back to
 * back, high byte first.  0xFFFF is filler: assembled, never decoded.  A
 * board sends the pair again after three seconds of silence.
 *
 * Coordinates are 0..1023 on each axis, x to the right and y upward.
 * Colour indexes: 0 white, 1 red, 2 blue, 3 black.  The functions keep only
 * the bits of each field, as the display does.
 */
#ifndef VELMORA_WORDS_H
#define VELMORA_WORDS_H

#include <stddef.h>
#include <stdint.h>

/* Bit 15 and the filler word do not fit an int of 16 bits, which is what
 * AVR and MSP430 firmware has, and an enumerator must: they are unsigned
 * constants of their own. */
#define VW_CONTROL_BIT 0x8000u /* set in control words, clear in graphics words */
#define VW_FILLER 0xFFFFu      /* assembled, never decoded */

/* One enumeration, so that C++20 lets its values be combined.  Every value
 * fits 15 bits. */
enum {
	/* Graphics words (bit 15 clear): opcode = word & VW_GRAPHICS_OPCODE_MASK;
	 * bits 12-11 hold a move's colour, bits 9-0 the coordinate. */
	OP_SET_X = 0x0000,  /* pen x = value */
	OP_SET_Y = 0x0400,  /* pen y = value */
	OP_MOVE_X = 0x2000, /* pen x = value; start a polyline there in the colour */
	OP_MOVE_Y = 0x2400, /* pen y = value; likewise */
	OP_DRAW_X = 0x4000, /* pen x = value; extend the polyline to the pen */
	OP_DRAW_Y = 0x4400, /* pen y = value; likewise */

	/* Control words (bit 15 set): opcode = word & VW_CONTROL_OPCODE_MASK,
	 * operand = the low byte. */
	OP_CLEAR = 0x0100,      /* empty the display list */
	OP_END_FRAME = 0x0200,  /* the picture is complete: show it */
	OP_ATTRIBUTES = 0x0300, /* text attributes = operand & 0x7F */
	OP_CHARACTER = 0x0400,  /* stroke character code operand at the pen */

	VW_GRAPHICS_OPCODE_MASK = 0x6400,
	VW_CONTROL_OPCODE_MASK = 0x7F00,
	VW_VALUE_MASK = 0x03FF,  /* coordinate 0..1023 */
	VW_COLOUR_MASK = 0x1800, /* colour index of a move */
	VW_COLOUR_SHIFT = 11,
	VW_OPERAND_MASK = 0x00FF,
	VW_ATTRIBUTE_MASK = 0x007F, /* size bits 2-0, colour 4-3, rotation 6-5 */
	VW_SYNC_BYTE = 0xFF,

	/* Colour indexes of moves and text */
	VW_WHITE = 0, /* 254/255 grey: just below the background's white */
	VW_RED = 1,
	VW_BLUE = 2,
	VW_BLACK = 3
};

static inline uint16_t vw_graphics(unsigned opcode, unsigned colour, unsigned value)
{
	return (uint16_t)(opcode | (colour & 3u) << VW_COLOUR_SHIFT | (value & VW_VALUE_MASK));
}

static inline uint16_t vw_control(unsigned opcode, unsigned operand)
{
	return (uint16_t)(VW_CONTROL_BIT | opcode | (operand & VW_OPERAND_MASK));
}

/* clang-format off */
static inline uint16_t vw_set_x(unsigned x) { return vw_graphics(OP_SET_X, 0, x); }
static inline uint16_t vw_set_y(unsigned y) { return vw_graphics(OP_SET_Y, 0, y); }
static inline uint16_t vw_move_x(unsigned colour, unsigned x) { return vw_graphics(OP_MOVE_X, colour, x); }
static inline uint16_t vw_move_y(unsigned colour, unsigned y) { return vw_graphics(OP_MOVE_Y, colour, y); }
static inline uint16_t vw_draw_x(unsigned x) { return vw_graphics(OP_DRAW_X, 0, x); }
static inline uint16_t vw_draw_y(unsigned y) { return vw_graphics(OP_DRAW_Y, 0, y); }
static inline uint16_t vw_clear(void) { return vw_control(OP_CLEAR, 0); }
static inline uint16_t vw_end_frame(void) { return vw_control(OP_END_FRAME, 0); }
static inline uint16_t vw_character(unsigned code) { return vw_control(OP_CHARACTER, code); }
/* clang-format on */

/* The attribute byte: size 0..7 (one glyph step is size/2 plot units),
 * colour index 0..3, rotation 0..3 (quarter turns anticlockwise). */
static inline unsigned vw_attribute_byte(unsigned size, unsigned colour, unsigned rotation)
{
	return (size & 7u) | (colour & 3u) << 3 | (rotation & 3u) << 5;
}

static inline uint16_t vw_attributes(unsigned attribute_byte)
{
	return vw_control(OP_ATTRIBUTES, attribute_byte & VW_ATTRIBUTE_MASK);
}

/* Writers: each puts its bytes at out and returns how many (out must have
 * room for them). */

static inline size_t vw_put_sync(uint8_t *out)
{
	out[0] = VW_SYNC_BYTE;
	out[1] = VW_SYNC_BYTE;
	return 2;
}

static inline size_t vw_put(uint8_t *out, uint16_t word)
{
	out[0] = (uint8_t)(word >> 8);
	out[1] = (uint8_t)(word & 0xFF);
	return 2;
}

/* A move to (x, y) in a colour: set y, then move x.  4 bytes. */
static inline size_t vw_put_move_to(uint8_t *out, unsigned colour, unsigned x, unsigned y)
{
	size_t n = vw_put(out, vw_set_y(y));
	return n + vw_put(out + n, vw_move_x(colour, x));
}

/* A segment from the pen to (x, y): set y, then draw x.  4 bytes. */
static inline size_t vw_put_line_to(uint8_t *out, unsigned x, unsigned y)
{
	size_t n = vw_put(out, vw_set_y(y));
	return n + vw_put(out + n, vw_draw_x(x));
}

#endif /* VELMORA_WORDS_H */
