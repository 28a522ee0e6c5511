#include "tools/toolkit/page_data.h"

#include <cstdio>

#include "common/config.h"
#include "display/renderer.h"

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
