// make-examples: writes the sample streams in examples/ from their
// instruction words, encoded by stream/words.h.  Run by hand after changing
// a stream, from the source tree:
//
//   cmake --build build --target make-examples
//   build/tools/make-examples examples
//
// Each stream is the sync pair, then its words high byte first.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "stream/words.h"

static const char usage_text[] = "usage: make-examples DIR\n"
                                 "\n"
                                 "Writes the sample streams blue_line.bin and box_text.bin into DIR\n"
                                 "(the source tree's examples/).\n"
                                 "\n"
                                 "  -h, --help  show this text\n"
                                 "\n"
                                 "Exit status: 0 done; 2 bad usage or a write error.\n";

enum Colour : unsigned { white = VW_WHITE, red = VW_RED, blue = VW_BLUE, black = VW_BLACK };

static bool write_stream(const std::string &dir, const char *name, const std::vector<uint16_t> &words)
{
	std::vector<uint8_t> bytes(2 + 2 * words.size());
	uint8_t *p = bytes.data();
	p += vw_put_sync(p);
	for (uint16_t w : words)
		p += vw_put(p, w);

	std::string path = dir + "/" + name;
	FILE *f = fopen(path.c_str(), "wb");
	bool ok = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
	if (f && fclose(f) != 0)
		ok = false;
	if (!ok)
		fprintf(stderr, "make-examples: cannot write %s: %s\n", path.c_str(), strerror(errno));
	return ok;
}

int main(int argc, char **argv)
{
	if (argc == 2 && (!strcmp(argv[1], "-h") || !strcmp(argv[1], "--help"))) {
		fputs(usage_text, stdout);
		return 0;
	}
	if (argc != 2 || argv[1][0] == '-') {
		fputs(usage_text, stderr);
		return 2;
	}
	const std::string dir = argv[1];

	// The words grouped as they draw.
	// clang-format off
	// A blue line: clear; x 100; move y 200 in blue; draw x 300; end of frame.
	bool ok = write_stream(dir, "blue_line.bin",
			       {vw_clear(), vw_set_x(100), vw_move_y(blue, 200), vw_draw_x(300), vw_end_frame()});

	// A box and what is in it, in one frame: a black box, a blue diagonal, a
	// filler word (read and dropped), then "Box and text" at size 4 in red
	// from (120, 450), clear of the diagonal; end of frame.
	std::vector<uint16_t> box = {vw_clear(),
				     vw_set_x(100), vw_move_y(black, 100),
				     vw_draw_x(400), vw_draw_y(600), vw_draw_x(100), vw_draw_y(100),
				     VW_FILLER,
				     vw_set_x(150), vw_move_y(blue, 150),
				     vw_set_x(350), vw_draw_y(550),
				     vw_attributes(vw_attribute_byte(4, red, 0)),
				     vw_set_x(120), vw_set_y(450)};
	for (const char *c = "Box and text"; *c; c++)
		box.push_back(vw_character((unsigned char)*c));
	box.push_back(vw_end_frame());
	ok = write_stream(dir, "box_text.bin", box) && ok;
	// clang-format on
	return ok ? 0 : 2;
}
