// What a double-buffered window shows, as its window system has it: one
// implementation per window system (window_x11.cpp, window_win32.cpp).
#pragma once

#include <cstdint>
#include <vector>

// The current GL context's window, width x height pixels, into *rgb as 8-bit
// rows from the top; false when it cannot be read.
bool read_presented(int32_t width, int32_t height, std::vector<uint8_t> *rgb);
// Just before every swap of a double-buffered window, its back buffer
// complete: what the swap will present.
void before_swap();
