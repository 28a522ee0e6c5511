#include "display/display_list.h"

DisplayRecord command[max_commands];
int32_t nCommands = 0;
uint16_t current_color = 1;
int32_t sw_wait = 0;
uint32_t nClears = 0;

// p1 and p2 of the colour record for each index: white just below the
// background's 1.0, red, blue, black.
static const uint16_t palette[4][2] = {
        {0x00FF, 0xFFFF},
        {0x0000, 0x00FF},
        {0x00FF, 0x0000},
        {0x0000, 0x0000},
};

// Past the last row nothing is stored, but the count still rises so the
// framer sees the overflow.
static void append(uint16_t kind, uint16_t p1, uint16_t p2)
{
	if (nCommands >= 0 && nCommands < max_commands) {
		command[nCommands].kind = kind;
		command[nCommands].p1 = p1;
		command[nCommands].p2 = p2;
	}
	nCommands++;
}

// Unsigned comparison only: a position worked out below zero has wrapped to
// a large value and lands on the far edge.
static void clamp(uint16_t &x, uint16_t &y)
{
	if (y > max_y)
		y = max_y;
	if (x > max_x)
		x = max_x;
}

void SetColor(uint16_t color)
{
	uint16_t c = color & 3;

	if (c == current_color)
		return;
	append(CMD_COLOR, palette[c][0], palette[c][1]);
	current_color = c;
}

void GoTo(uint16_t color, uint16_t x, uint16_t y)
{
	clamp(x, y);
	SetColor(color);
	append(CMD_GOTO, x, y);
}

void Draw(uint16_t x, uint16_t y)
{
	clamp(x, y);
	append(CMD_DRAW, x, y);
}

// Every drawing pass starts in red, so the tracker goes back to red with
// the list; otherwise a move after a clear in the last colour would record
// no colour and be drawn red.
void ClearList()
{
	nCommands = 0;
	current_color = 1;
	nClears++;
}

void EndFrame()
{
	if (nCommands >= 0 && nCommands < max_commands)
		command[nCommands].kind = CMD_END_FRAME;
	nCommands++;
}
