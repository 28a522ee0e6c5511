// The window drawn off screen: the program's own resizeWindow() and
// Display() run over the current display list in an OSMesa buffer.  This
// stands in for the window (glutSwapBuffers) and for GLU's one call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a window of width x height pixels shows after one drawing pass over
// the current list: 8-bit RGB rows from the top into *rgb.  False with the
// reason in *why (with double buffering, a list with no end of frame shows
// nothing yet).
bool offscreen_pass(int32_t width, int32_t height, bool sw_double, std::vector<uint8_t> *rgb,
                    std::string *why);
