// Compiled with command, nCommands, nClears and sw_wait renamed to view_*
// (tools/CMakeLists.txt): these are then the viewers' list.
#include "tools/serve/view.h"

#include "picture/picture.h"
#include "tools/toolkit/offscreen.h"

DisplayRecord command[max_commands];
int32_t nCommands = 0;
uint32_t nClears = 0;
int32_t sw_wait = 0;

bool view_pass(int32_t width, int32_t height, bool sw_double, std::vector<uint8_t> *rgb, std::string *why)
{
	return offscreen_pass(width, height, sw_double, rgb, why);
}

std::string view_svg(int32_t width, int32_t height, bool sw_double)
{
	return display_list_svg(width, height, sw_double);
}
