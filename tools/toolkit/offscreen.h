// The window drawn off screen: the program's own resizeWindow() and
// drawing pass (draw_list) run over a display list in an OSMesa buffer.  This
// stands in for the window (glutSwapBuffers) and for GLU's one call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "display/display_list.h"

// What a window of width x height pixels shows after one drawing pass over
// list[0..n-1] (n at most max_commands): 8-bit RGB rows from the top into
// *rgb.  False with the reason in *why (with double buffering, a list with
// no end of frame shows nothing yet).  One pass at a time in the process.
bool offscreen_pass(const DisplayRecord *list, int32_t n, int32_t width, int32_t height, bool sw_double,
                    std::vector<uint8_t> *rgb, std::string *why);
