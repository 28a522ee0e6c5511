// The overlay's box in the window system: a child window of the display's
// window, which no pass draws (app/overlay_x11.cpp, app/overlay_win32.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Makes the box, hidden, at (x, y) pixels from the window's top-left
// corner, room for lines of columns characters with pad pixels around;
// its size in *width and *height.  False when it cannot be made.
bool box_make(int x, int y, int columns, int lines, int pad, int *width, int *height);
// Paints the lines into it (shown or not).
void box_draw(const std::vector<std::string> &lines);
void box_show(bool sw_on);
// Puts back on the window, where the box was, the pixels it covered: rows
// from the top, 3 bytes a pixel, width x height.
void box_put_back(const std::vector<uint8_t> &rgb, int width, int height);
