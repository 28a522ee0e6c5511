// What velmora-inspect and velmora-serve tell their pages alike: strings
// safe inside a <script>, the window's mapping at its start size, and the
// display list's records packed for the pages' typed arrays, in base64.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/config.h"
#include "display/display_list.h"

constexpr int32_t page_width = start_width;  // the pictures' size, pixels
constexpr int32_t page_height = start_height;

// s as a JSON string, with <, > and & escaped too.
void json_string(std::string &out, const std::string &s);

// "width":…,"height":…,"mapX":[…],"mapY":[…]: the renderer's mapping at
// the start size, pixels from the left and top edges, one plot unit
// width/2 pixels on both axes.
void json_page_map(std::string &out);

// A record in 32 bits: kind - 1 in bits 31-30; a GOTO's or DRAW's p1 in
// bits 9-0 and p2 in 19-10; a colour record's colour, as the page reads
// it, in 29-0.  An end of frame carries no operands.
uint32_t pack_record(const DisplayRecord &d, uint32_t colour);

// v appended little-endian, as the pages' typed arrays read them on the
// machines that open them.
template <typename T> void put_le(std::vector<uint8_t> &out, const std::vector<T> &v)
{
	size_t at = out.size();
	out.resize(at + v.size() * sizeof(T));
	if constexpr (std::endian::native == std::endian::little) {
		if (!v.empty())
			memcpy(out.data() + at, v.data(), v.size() * sizeof(T));
	} else {
		for (T x : v)
			for (size_t b = 0; b < sizeof(T); b++)
				out[at++] = (uint8_t)(x >> (8 * b));
	}
}

// n bytes in base64, padded with '='.
std::string base64(const uint8_t *p, size_t n);
