// Instruction words: decoded one at a time, in arrival order, each carried
// out completely before the next byte is read.
#pragma once

#include <cstdint>

// Graphics words (bit 15 clear): opcode = word & 0x6400.
constexpr uint16_t OP_SET_X = 0x0000;
constexpr uint16_t OP_SET_Y = 0x0400;
constexpr uint16_t OP_MOVE_X = 0x2000;
constexpr uint16_t OP_MOVE_Y = 0x2400;
constexpr uint16_t OP_DRAW_X = 0x4000;
constexpr uint16_t OP_DRAW_Y = 0x4400;
// Control words (bit 15 set): opcode = word & 0x7F00, operand = low byte.
constexpr uint16_t OP_CLEAR = 0x0100;
constexpr uint16_t OP_END_FRAME = 0x0200;
constexpr uint16_t OP_ATTRIBUTES = 0x0300;
constexpr uint16_t OP_CHARACTER = 0x0400;

constexpr uint16_t control_bit = 0x8000;
constexpr uint16_t graphics_opcode_mask = 0x6400;
constexpr uint16_t control_opcode_mask = 0x7F00;
constexpr uint16_t value_mask = 0x03FF;     // coordinate 0..1023
constexpr uint16_t color_field = 0x1800;    // colour index of a move, bits 12-11
constexpr uint16_t attribute_mask = 0x007F; // size 2-0, colour 4-3, rotation 6-5

extern uint16_t gx1;  // pen x; set from words, advanced by the stroker with 16-bit wrap
extern uint16_t gy1;  // pen y; likewise
extern uint16_t CharacterAttributes;  // attribute byte, 0..127, of every following character

void Parse(uint16_t word);
