// make_frames: test pictures for the render benchmark, as a board sends
// them.  Every frame is a sync pair, a clear, the drawing words and an end
// of frame, and holds exactly --records display-list records, its one
// colour record and its end-of-frame record included, as counted by
// velmora-decode --records.  A fixed seed draws the same picture every run;
// every frame of a run is the same.
//
//   short  small segments (under 12 grid steps) all over the grid, each a
//          move then a draw: two records
//   long   polylines of 50 random points over the whole 0..1023 grid
//
// With --log, a line "FRAMES SECONDS" (CLOCK_REALTIME, so the script's
// `date +%s.%N` compares) follows every frame written in full: into a fifo
// that the display drains, the spacing of these lines is its frame rate.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "common/file.h"
#include "stream/words.h"

static const char usage_text[] =
        "usage: make_frames [--records N] [--kind short|long] [--frames K]\n"
        "                   [--output FILE] [--log FILE]\n"
        "\n"
        "Writes test frames for the display: sync, clear, drawing, end of frame.\n"
        "\n"
        "  --records N    display-list records per frame, 3..50000, colour and\n"
        "                 end-of-frame records included (default 1000)\n"
        "  --kind K       short: small segments, a move and a draw each;\n"
        "                 long: polylines of random points over the whole grid\n"
        "                 (default short)\n"
        "  --frames K     frames to write; 0 writes until the reader goes away\n"
        "                 (default 1)\n"
        "  --output FILE  write to FILE (a file or a named pipe) instead of\n"
        "                 standard output\n"
        "  --log FILE     after each frame written in full, append a line\n"
        "                 \"FRAMES SECONDS\" (wall clock) to FILE\n"
        "  -h, --help     show this text\n"
        "\n"
        "Exit status: 0 done or the reader went away; 2 bad usage or a write error.\n";

constexpr long max_records = 50000;  // the display halts past this
constexpr int polyline_points = 50;  // points of each long polyline
constexpr unsigned colour = 2;       // blue: one colour record after the clear, which resets to red

// A frame's bytes, put by stream/words.h's writers.
struct Encoder {
	std::vector<uint8_t> bytes;

	void append(const uint8_t *p, size_t n)  // not a range insert: GCC 12 warns falsely there
	{
		for (size_t i = 0; i < n; i++)
			bytes.push_back(p[i]);
	}
	void word(uint16_t w)
	{
		uint8_t b[2];
		append(b, vw_put(b, w));
	}
	void sync()  // a filler word to a display in step
	{
		uint8_t b[2];
		append(b, vw_put_sync(b));
	}
	void clear() { word(vw_clear()); }
	void end_frame() { word(vw_end_frame()); }
	void move_to(unsigned c, unsigned x, unsigned y)  // GOTO, after a COLOR if c changes
	{
		uint8_t b[4];
		append(b, vw_put_move_to(b, c, x, y));
	}
	void draw_to(unsigned x, unsigned y)  // DRAW
	{
		uint8_t b[4];
		append(b, vw_put_line_to(b, x, y));
	}
};

// xorshift32: the same numbers with every library.
static uint32_t seed = 0x9E3779B9u;
static unsigned below(unsigned n)
{
	seed ^= seed << 13;
	seed ^= seed >> 17;
	seed ^= seed << 5;
	return seed % n;
}

static void frame(Encoder &e, long records, bool long_lines)
{
	e.sync();
	e.clear();
	long fill = records - 2;  // less the colour record and the end of frame
	if (long_lines) {
		while (fill > 0) {
			long points = fill < polyline_points ? fill : polyline_points;
			e.move_to(colour, below(1024), below(1024));
			for (long i = 1; i < points; i++)
				e.draw_to(below(1024), below(1024));
			fill -= points;
		}
	} else {
		unsigned x = 0, y = 0;
		for (; fill >= 2; fill -= 2) {
			x = 12 + below(1000);
			y = 12 + below(1000);
			e.move_to(colour, x, y);
			int dx = (int)below(23) - 11, dy = (int)below(23) - 11;
			if (dx == 0 && dy == 0)
				dx = 5;
			e.draw_to((unsigned)((int)x + dx), (unsigned)((int)y + dy));
		}
		if (fill == 1) {  // an odd count: one more record
			if (records == 3)
				e.move_to(colour, 512, 512);
			else
				e.draw_to(x, y + 8);
		}
	}
	e.end_frame();
}

static bool number(const char *s, long lo, long hi, long *out)
{
	char *end = nullptr;
	errno = 0;
	long v = strtol(s, &end, 10);
	if (errno || end == s || *end || v < lo || v > hi)
		return false;
	*out = v;
	return true;
}

int main(int argc, char **argv)
{
	long records = 1000, frames = 1;
	bool long_lines = false;
	const char *path = nullptr, *log_path = nullptr;
	for (int i = 1; i < argc; i++) {
		const char *a = argv[i];
		const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
		if (!strcmp(a, "-h") || !strcmp(a, "--help")) {
			fputs(usage_text, stdout);
			return 0;
		} else if (!strcmp(a, "--records") && next && number(next, 3, max_records, &records)) {
			i++;
		} else if (!strcmp(a, "--kind") && next &&
		           (!strcmp(next, "short") || !strcmp(next, "long"))) {
			long_lines = !strcmp(next, "long");
			i++;
		} else if (!strcmp(a, "--frames") && next && number(next, 0, 1L << 40, &frames)) {
			i++;
		} else if (!strcmp(a, "--output") && next) {
			path = next;
			i++;
		} else if (!strcmp(a, "--log") && next) {
			log_path = next;
			i++;
		} else {
			fprintf(stderr, "make_frames: bad argument '%s'\nTry 'make_frames --help'.\n", a);
			return 2;
		}
	}

	Encoder e;
	frame(e, records, long_lines);

	FILE *log = nullptr;
	if (log_path && !(log = fopen(log_path, "a"))) {
		fprintf(stderr, "make_frames: cannot open %s: %s\n", log_path, strerror(errno));
		return 2;
	}
	int fd = 1;
	if (path) {
		// Blocks on a fifo until the display opens it.
		fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
		if (fd < 0) {
			fprintf(stderr, "make_frames: cannot open %s: %s\n", path, strerror(errno));
			return 2;
		}
	}
	signal(SIGPIPE, SIG_IGN);  // a display that goes away ends the run quietly

	for (long n = 1; frames == 0 || n <= frames; n++) {
		if (!write_all(fd, e.bytes.data(), e.bytes.size())) {
			if (errno == EPIPE)
				return 0;
			fprintf(stderr, "make_frames: write failed: %s\n", strerror(errno));
			return 2;
		}
		if (log) {
			timespec t;
			clock_gettime(CLOCK_REALTIME, &t);
			fprintf(log, "%ld %ld.%09ld\n", n, (long)t.tv_sec, t.tv_nsec);
			fflush(log);
		}
	}
	return 0;
}
