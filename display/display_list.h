// The display list: the one store of the picture between the instruction
// stream and the window.  Records are only appended; the list is emptied
// only as a whole.  No GL here.
#pragma once

#include <cstdint>

#include "common/config.h"

// Record kinds, the first word of every row.
constexpr uint16_t CMD_GOTO = 1;       // start a polyline at (p1, p2)
constexpr uint16_t CMD_DRAW = 2;       // extend it to (p1, p2)
constexpr uint16_t CMD_COLOR = 3;      // p1: blue in the low byte; p2: green high, red low
constexpr uint16_t CMD_END_FRAME = 4;  // picture complete: present it

struct DisplayRecord {
	uint16_t kind;
	uint16_t p1;
	uint16_t p2;
};
static_assert(sizeof(DisplayRecord) == 6, "a record is three 16-bit words");

extern DisplayRecord command[max_commands];  // rows 0..nCommands-1; written by GoTo/Draw/SetColor/EndFrame
extern int32_t nCommands;  // records appended since the last clear; may pass max_commands on overflow
extern uint32_t nClears;   // clears since start (wraps); with nCommands, tells whether the list changed
extern uint16_t
        current_color;  // colour index (0..3) of the last CMD_COLOR appended; 1 until then and after a clear

// Frame-waiting flag: 1 from an end-of-frame instruction until a drawing pass
// has reached its record.  Set by Parse, cleared by Display and meInit.
extern int32_t sw_wait;

void GoTo(uint16_t color, uint16_t x, uint16_t y);  // CMD_COLOR if the index changes, then CMD_GOTO
void Draw(uint16_t x, uint16_t y);                  // CMD_DRAW
void SetColor(uint16_t color);                      // CMD_COLOR if color & 3 differs from current_color
void ClearList();                                   // empty the list; colour tracker back to red
void EndFrame();                                    // CMD_END_FRAME
