// The plot's mapping to window units: plain arithmetic, no GL, so that the
// renderer, the SVG writer and the tools' pages all place a point alike.
#pragma once

#include <cstdint>

constexpr double map_factor = 0.52;  // plot units per grid range

// Plot coordinate v (0..m) to window units: grid point m/2 lands on 0, and
// one unit is m * 0.52 grid steps.  Single/double steps as the GL gets them.
inline float plot_map(uint16_t v, uint32_t m)
{
	uint32_t h = m >> 1;
	float d = (float)((double)(float)v - (double)(float)h);
	double s = (double)m * map_factor;

	return (float)((double)d / s);
}
