// The glyph table, read the way the stroker reads it: through cptrs, one
// (code, y) pair at a time up to the terminator.  A mistyped integer shows
// up either as a broken property or as a changed fingerprint.
#include "font/glyphs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace
{

constexpr int max_points = 17;  // the digit 8

struct Point {
	int32_t code;
	int32_t y;
	int32_t x() const { return code & 7; }
	bool up() const { return code > 7; }
};

struct Glyph {
	std::vector<Point> points;
	std::vector<int32_t> ints;  // every element read, terminator included
	int32_t end;                // the element that stopped the reader
};

// Stops after one point too many, so a glyph that lost its terminator fails
// instead of running on through its neighbours.
Glyph read_glyph(int index)
{
	Glyph g;
	const int32_t *p = cptrs[index];
	while (g.points.size() <= max_points && *p >= 0) {
		g.points.push_back({p[0], p[1]});
		g.ints.push_back(p[0]);
		g.ints.push_back(p[1]);
		p += 2;
	}
	g.end = *p;
	g.ints.push_back(*p);
	return g;
}

std::string name(int index)
{
	int code = 32 + index;
	return "code " + std::to_string(code) + " '" + std::string(1, (char)code) + "'";
}

int index_of(char c)
{
	return c - 32;
}

}  // namespace

TEST(GlyphTable, HoldsNinetySixArraysOfTheirOwn)
{
	std::set<const int32_t *> seen;
	for (int i = 0; i < n_glyphs; i++) {
		ASSERT_NE(cptrs[i], nullptr) << name(i);
		seen.insert(cptrs[i]);
	}
	EXPECT_EQ(seen.size(), 96u);
}

TEST(GlyphTable, EveryGlyphIsWellFormed)
{
	for (int i = 0; i < n_glyphs; i++) {
		SCOPED_TRACE(name(i));
		Glyph g = read_glyph(i);
		ASSERT_EQ(g.end, -1);
		ASSERT_GE(g.points.size(), 1u);
		ASSERT_LE(g.points.size(), (size_t)max_points);
		EXPECT_TRUE(g.points.front().up()) << "a glyph starts with a move";
		for (size_t k = 0; k < g.points.size(); k++) {
			const Point &p = g.points[k];
			bool known = (p.code >= 0 && p.code <= 4) || (p.code >= 8 && p.code <= 12);
			EXPECT_TRUE(known) << "point " << k << " code " << p.code;
			EXPECT_LE(p.x(), 4) << "point " << k;
			EXPECT_GE(p.y, 0) << "point " << k;
			EXPECT_LE(p.y, 11) << "point " << k;
			if (k > 0) {
				EXPECT_FALSE(p.up() && g.points[k - 1].up()) << "two moves in a row at " << k;
			}
		}
		if (g.points.size() > 1) {
			EXPECT_FALSE(g.points.back().up()) << "a glyph ends on a draw";
		}
	}
}

// The renderer draws each stroke as a line strip; a stroke whose points all
// coincide has zero length and leaves nothing on the screen.
TEST(GlyphTable, EveryStrokeLeavesAMark)
{
	for (int i = 0; i < n_glyphs; i++) {
		Glyph g = read_glyph(i);
		if (g.points.size() < 2)
			continue;
		for (size_t k = 0; k < g.points.size(); k++) {
			if (!g.points[k].up())
				continue;
			bool moves = false;
			for (size_t j = k + 1; j < g.points.size() && !g.points[j].up(); j++)
				moves = moves || g.points[j].x() != g.points[k].x() ||
				        g.points[j].y != g.points[k].y;
			EXPECT_TRUE(moves) << name(i) << ": stroke from point " << k << " has no length";
		}
	}
}

TEST(GlyphTable, EightHasTheMostPoints)
{
	for (int i = 0; i < n_glyphs; i++) {
		size_t n = read_glyph(i).points.size();
		if (i == index_of('8')) {
			EXPECT_EQ(n, 17u);
		} else {
			EXPECT_LT(n, 17u) << name(i);
		}
	}
}

TEST(GlyphTable, OnlyDescendersGoBelowRowOneAndOnlyBracketsAboveRowTen)
{
	const std::string descenders = "gjpqy";
	const std::string brackets = "()[]{}";
	for (int i = 0; i < n_glyphs; i++) {
		int lowest = 11, highest = 0;
		for (const Point &p : read_glyph(i).points) {
			lowest = std::min(lowest, p.y);
			highest = std::max(highest, p.y);
		}
		char c = (char)(32 + i);
		EXPECT_EQ(lowest < 1, descenders.find(c) != std::string::npos) << name(i);
		EXPECT_EQ(highest > 10, brackets.find(c) != std::string::npos) << name(i);
	}
}

TEST(GlyphTable, SpaceAndDelAreOneMoveToTwoTwoAndAllOthersDiffer)
{
	for (int i : {index_of(' '), n_glyphs - 1}) {
		Glyph g = read_glyph(i);
		ASSERT_EQ(g.points.size(), 1u) << name(i);
		EXPECT_TRUE(g.points[0].up());
		EXPECT_EQ(g.points[0].x(), 2);
		EXPECT_EQ(g.points[0].y, 2);
		EXPECT_EQ(g.ints, (std::vector<int32_t>{10, 2, -1}));
	}
	for (int i = 0; i < n_glyphs - 1; i++)
		for (int j = i + 1; j < n_glyphs - 1; j++)
			EXPECT_NE(read_glyph(i).ints, read_glyph(j).ints) << name(i) << " and " << name(j);
}

// FNV-1a over each glyph's integers, terminator included.  Catches what the
// properties above cannot: a value swapped for another one inside the grid.
// '?' ends its dot on row 1, as '!' does.
TEST(GlyphTable, EveryGlyphMatchesItsFingerprint)
{
	static const uint32_t fingerprint[n_glyphs] = {
	        0xf34710f6, 0x3e750433, 0x8692e076, 0xdf71908a, 0x75210818, 0x69e6ffde, 0x7f81a3db,
	        0xca2c874e, 0xbb1007aa, 0x76fad9ba, 0xc58dfaf2, 0x92844fae, 0x853bc101, 0xe9289252,
	        0x5f30f573, 0xa807912a, 0x2c8e53fd, 0x083acc92, 0x0c7147e0, 0xe3430a91, 0xc56ef5eb,
	        0xd26a29cf, 0x3b532f49, 0x7060d351, 0xfc5c4d77, 0xc604b5cc, 0x6388916b, 0x99489245,
	        0x297205ac, 0x97f3d0a6, 0xb1bf6410, 0xcf55a2ee, 0xf64ad5c4, 0xbbb2f602, 0x10ee3fc0,
	        0x77718b8e, 0xe91b5e34, 0x26ad11cf, 0xb7531101, 0x315b3d7f, 0x18d447c2, 0x259ec50e,
	        0x30546963, 0x6563eb6f, 0xd36e0e74, 0x4aacc63a, 0x13dd0ad6, 0x03dfb591, 0xf9816c92,
	        0x674d6195, 0x615ea66e, 0x1027a8ba, 0x793f3db2, 0xb15ac340, 0x6ee0d912, 0xa1fedfad,
	        0x574ff1ae, 0xad80bf7a, 0xd10db2d6, 0x32857c36, 0x2d0be905, 0x914c4b3e, 0x52bcbf6a,
	        0xe643e7c2, 0xec377a28, 0x78b2382a, 0xd31a732e, 0x2c0178d6, 0x2a1fb022, 0x2186a4fe,
	        0xe52b7739, 0x8edadb84, 0x59d619a7, 0xb169a090, 0xc5b11196, 0xbf694af9, 0xff9e2a61,
	        0xb4225d7c, 0xb2349f96, 0xb9d8142d, 0xd35220a2, 0x6da1f848, 0x1b689d7c, 0x4cbf9c5a,
	        0x943c909e, 0x1336fece, 0x3b2c73a6, 0x41087563, 0xcd9017e6, 0xcd9ce746, 0x3d374eee,
	        0xc3c21412, 0xf04f5a7e, 0xb23800ba, 0xbd0554e8, 0xf34710f6,
	};
	for (int i = 0; i < n_glyphs; i++) {
		uint32_t h = 2166136261u;
		for (int32_t v : read_glyph(i).ints)
			h = (h ^ (uint32_t)v) * 16777619u;
		EXPECT_EQ(h, fingerprint[i]) << name(i);
	}
}
