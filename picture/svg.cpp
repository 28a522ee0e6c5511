#include "picture/picture.h"

#include <cstdio>
#include <cstring>

#include "display/display_list.h"
#include "display/plot_map.h"

namespace
{

struct Rgb {
	unsigned r, g, b;
	bool operator==(const Rgb &) const = default;
};

struct Vertex {
	double x, y;  // pixels from the window's left and top edges
};

// A colour byte reaches the GL as byte/256; an 8-bit buffer stores that
// times 255, halves rounded up, so 0xFF shows as 254.
unsigned shown(unsigned byte)
{
	return (byte * 255u + 128u) / 256u;
}

// Shortest fixed-point form to a thousandth of a pixel.
std::string number(double v)
{
	char text[32];
	snprintf(text, sizeof text, "%.3f", v);
	size_t len = strlen(text);
	while (len > 0 && text[len - 1] == '0')
		len--;
	if (len > 0 && text[len - 1] == '.')
		len--;
	std::string s(text, len);
	return s == "-0" ? "0" : s;
}

class Writer
{
      public:
	Writer(int32_t width, int32_t height) : width_(width), height_(height) {}

	// The renderer's plot mapping and projection: x from -1 at the left
	// edge to +1 at the right, y from -1 at the bottom edge, one plot unit
	// width/2 pixels on both axes.
	Vertex map(const DisplayRecord &r) const
	{
		double x = plot_map(r.p1, max_x);
		double y = plot_map(r.p2, max_y);
		return {(x + 1.0) * width_ / 2.0, height_ - (y + 1.0) * width_ / 2.0};
	}

	void start(Vertex v, Rgb colour)
	{
		end();
		open_ = true;
		colour_ = colour;
		strip_.assign(1, v);
	}
	void add(Vertex v)
	{
		if (open_)
			strip_.push_back(v);
	}
	// The GL colours each vertex as it is given, so a colour inside a strip
	// starts a new polyline at the last vertex.  The decoder never puts one
	// there: a colour record always comes just before a move.
	void recolour(Rgb colour)
	{
		if (open_ && !(colour == colour_)) {
			Vertex last = strip_.back();
			start(last, colour);
		}
	}
	// A strip of one vertex draws nothing.
	void end()
	{
		if (open_ && strip_.size() > 1) {
			char stroke[8];
			snprintf(stroke, sizeof stroke, "#%02x%02x%02x", colour_.r, colour_.g, colour_.b);
			out_ += "<polyline stroke=\"";
			out_ += stroke;
			out_ += "\" points=\"";
			for (size_t i = 0; i < strip_.size(); i++) {
				if (i > 0)
					out_ += ' ';
				out_ += number(strip_[i].x) + "," + number(strip_[i].y);
			}
			out_ += "\"/>\n";
		}
		open_ = false;
		strip_.clear();
	}
	const std::string &body() const { return out_; }

      private:
	int32_t width_, height_;
	bool open_ = false;
	Rgb colour_ = {0, 0, 0};
	std::vector<Vertex> strip_;
	std::string out_;
};

}  // namespace

std::string display_list_svg(int32_t width, int32_t height, bool sw_double)
{
	return list_svg(command, nCommands < max_commands ? nCommands : max_commands, width, height,
	                sw_double);
}

// Walks the records as draw_list() does.
std::string list_svg(const DisplayRecord *list, int32_t n, int32_t width, int32_t height, bool sw_double)
{
	if (sw_double) {
		int32_t presented = 0;
		for (int32_t i = 0; i < n; i++)
			if (list[i].kind == CMD_END_FRAME)
				presented = i + 1;
		n = presented;
	}

	Writer w(width, height);
	Rgb colour = {255, 0, 0};  // every pass starts in red
	for (int32_t i = 0; i < n; i++) {
		const DisplayRecord &r = list[i];
		switch (r.kind) {
		case CMD_GOTO:
			w.start(w.map(r), colour);
			break;
		case CMD_DRAW:
			w.add(w.map(r));
			break;
		case CMD_COLOR:
			colour = {shown(r.p2 & 0xFFu), shown((unsigned)r.p2 >> 8), shown(r.p1 & 0xFFu)};
			w.recolour(colour);
			break;
		case CMD_END_FRAME:
			w.end();
			break;
		default:
			break;
		}
	}
	w.end();

	const std::string W = std::to_string(width), H = std::to_string(height);
	const std::string size = "width=\"" + W + "\" height=\"" + H + "\"";
	return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
	       "<svg xmlns=\"http://www.w3.org/2000/svg\" " +
	       size + " viewBox=\"0 0 " + W + " " + H +
	       "\">\n"
	       "<clipPath id=\"window\"><rect " +
	       size +
	       "/></clipPath>\n"
	       "<rect " +
	       size +
	       " fill=\"#ffffff\"/>\n"
	       "<g clip-path=\"url(#window)\" fill=\"none\" stroke-width=\"1\">\n" +
	       w.body() + "</g>\n</svg>\n";
}
