// What velmora-inspect and velmora-serve tell their pages alike: strings
// safe inside a <script>, and the window's size and mapping at start.
#pragma once

#include <cstdint>
#include <string>

constexpr int32_t page_width = 664;   // the window's size at start, pixels
constexpr int32_t page_height = 498;  //

// s as a JSON string, with <, > and & escaped too.
void json_string(std::string &out, const std::string &s);

// "width":…,"height":…,"mapX":[…],"mapY":[…]: the renderer's mapping at
// the start size, pixels from the left and top edges, one plot unit
// width/2 pixels on both axes.
void json_page_map(std::string &out);
