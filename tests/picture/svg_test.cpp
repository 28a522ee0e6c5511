// The SVG of the display list: a polyline for each strip the window draws,
// where the window draws it, in the colour its pixels get.
#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "display/display_list.h"
#include "picture/picture.h"
#include "stream/decoder.h"

namespace
{

struct Point {
	double x, y;
};

struct Polyline {
	std::string stroke;
	std::vector<Point> points;
};

std::vector<Polyline> polylines(const std::string &svg)
{
	std::vector<Polyline> out;
	static const std::regex line("<polyline stroke=\"([^\"]*)\" points=\"([^\"]*)\"/>");
	static const std::regex point("(-?[0-9.]+),(-?[0-9.]+)");
	for (std::sregex_iterator i(svg.begin(), svg.end(), line), end; i != end; ++i) {
		Polyline p{(*i)[1], {}};
		const std::string points = (*i)[2];
		for (std::sregex_iterator j(points.begin(), points.end(), point); j != end; ++j)
			p.points.push_back({std::stod((*j)[1]), std::stod((*j)[2])});
		out.push_back(p);
	}
	return out;
}

// Grid point (x, y) in a 664 x 498 window: grid 511 is plot 0, a plot unit
// is 1023 * 0.52 grid steps and 332 pixels, the bottom edge is plot -1.
Point at(unsigned x, unsigned y)
{
	auto unit = [](unsigned v) { return ((double)v - 511.0) / (1023 * 0.52); };
	return {(unit(x) + 1.0) * 332.0, 498.0 - (unit(y) + 1.0) * 332.0};
}

void expect_polyline(const Polyline &p, const std::string &stroke, const std::vector<Point> &points)
{
	EXPECT_EQ(p.stroke, stroke);
	ASSERT_EQ(p.points.size(), points.size()) << stroke;
	for (size_t i = 0; i < points.size(); i++) {
		EXPECT_NEAR(p.points[i].x, points[i].x, 0.002) << stroke << " point " << i;
		EXPECT_NEAR(p.points[i].y, points[i].y, 0.002) << stroke << " point " << i;
	}
}

void move_to(unsigned colour, unsigned x, unsigned y)
{
	Parse(vw_set_y(y));
	Parse(vw_move_x(colour, x));
}

void line_to(unsigned x, unsigned y)
{
	Parse(vw_set_y(y));
	Parse(vw_draw_x(x));
}

// Red before any colour record is the pass's own (1, 0, 0); the palette's
// 0xFF bytes are 255/256 and show as 254.  A move followed by another move
// draws nothing.  Double buffering shows the list up to its end of frame.
TEST(Svg, StripsInTheirShownColoursUpToWhatIsPresented)
{
	sw_wait = 0;
	Parse(vw_clear());
	move_to(1, 100, 200);
	line_to(300, 200);
	move_to(2, 511, 511);
	line_to(1023, 511);
	move_to(3, 50, 900);
	move_to(1, 511, 100);
	line_to(511, 300);
	line_to(700, 300);
	Parse(vw_end_frame());
	move_to(2, 0, 0);
	line_to(100, 0);

	const std::string svg = display_list_svg(664, 498, true);
	EXPECT_NE(svg.find("width=\"664\" height=\"498\" viewBox=\"0 0 664 498\""), std::string::npos);
	EXPECT_NE(svg.find("<rect width=\"664\" height=\"498\" fill=\"#ffffff\"/>"), std::string::npos);
	std::vector<Polyline> presented = polylines(svg);
	ASSERT_EQ(presented.size(), 3u);
	expect_polyline(presented[0], "#ff0000", {at(100, 200), at(300, 200)});
	expect_polyline(presented[1], "#0000fe", {{332.0, 166.0}, at(1023, 511)});
	expect_polyline(presented[2], "#fe0000", {at(511, 100), at(511, 300), at(700, 300)});

	std::vector<Polyline> all = polylines(display_list_svg(664, 498, false));
	ASSERT_EQ(all.size(), 4u);
	expect_polyline(all[3], "#0000fe", {at(0, 0), at(100, 0)});
}

}  // namespace
