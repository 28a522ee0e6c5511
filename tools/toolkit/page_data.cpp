#include "tools/toolkit/page_data.h"

#include <cstdio>

#include "display/plot_map.h"

void json_string(std::string &out, const std::string &s)
{
	out += '"';
	for (unsigned char c : s) {
		if (c == '"' || c == '\\' || c == '<' || c == '>' || c == '&' || c < 0x20) {
			char esc[8];
			snprintf(esc, sizeof esc, "\\u%04x", c);
			out += esc;
		} else {
			out += (char)c;
		}
	}
	out += '"';
}

void json_page_map(std::string &out)
{
	out += "\"width\":" + std::to_string(page_width) + ",\"height\":" + std::to_string(page_height);
	char v[32];
	out += ",\"mapX\":[";
	for (uint32_t i = 0; i <= max_x; i++) {
		snprintf(v, sizeof v, "%s%.4f", i ? "," : "",
		         ((double)plot_map((uint16_t)i, max_x) + 1.0) * page_width / 2.0);
		out += v;
	}
	out += "],\"mapY\":[";
	for (uint32_t i = 0; i <= max_y; i++) {
		snprintf(v, sizeof v, "%s%.4f", i ? "," : "",
		         page_height - ((double)plot_map((uint16_t)i, max_y) + 1.0) * page_width / 2.0);
		out += v;
	}
	out += ']';
}

static_assert(CMD_GOTO == 1 && CMD_DRAW == 2 && CMD_COLOR == 3 && CMD_END_FRAME == 4,
              "kinds 1..4 pack into two bits");
static_assert(max_x < 1024 && max_y < 1024, "stored coordinates pack into ten bits");

uint32_t pack_record(const DisplayRecord &d, uint32_t colour)
{
	uint32_t kind = (uint32_t)(d.kind - 1) << 30;
	if (d.kind == CMD_COLOR)
		return kind | colour;
	if (d.kind == CMD_END_FRAME)
		return kind;
	return kind | (uint32_t)(d.p2 & 0x3FF) << 10 | (d.p1 & 0x3FF);
}

std::string base64(const uint8_t *p, size_t n)
{
	static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
	std::string out;
	out.reserve((n + 2) / 3 * 4);
	for (size_t i = 0; i < n; i += 3) {
		size_t k = n - i < 3 ? n - i : 3;
		uint32_t v =
		        (uint32_t)p[i] << 16 | (k > 1 ? (uint32_t)p[i + 1] << 8 : 0) | (k > 2 ? p[i + 2] : 0);
		out += digits[v >> 18];
		out += digits[(v >> 12) & 63];
		out += k > 1 ? digits[(v >> 6) & 63] : '=';
		out += k > 2 ? digits[v & 63] : '=';
	}
	return out;
}
