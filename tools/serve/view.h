// The viewers' copy of the display list.  velmora-serve compiles the
// renderer, the SVG writer and tools/offscreen.cpp a second time with the
// list's names mapped onto these (tools/CMakeLists.txt), so that a picture
// drawn for a viewer never touches the list the board side is filling.
// Only one thread at a time may use them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "display/display_list.h"

extern DisplayRecord view_command[max_commands];  // rows 0..view_nCommands-1
extern int32_t view_nCommands;                    // 0..max_commands

// offscreen_pass and display_list_svg over the viewers' list.
bool view_pass(int32_t width, int32_t height, bool sw_double, std::vector<uint8_t> *rgb, std::string *why);
std::string view_svg(int32_t width, int32_t height, bool sw_double);
