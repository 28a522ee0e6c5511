// velmora-demo: an endless animated stream for the display, for when no
// board is at hand.  Each frame is a clear, a picture and an end of frame:
// a clock with the time of day, text in every size, rotation and colour,
// and shapes that move.  Feed it to the display through the virtual board,
// e.g. a named pipe (scripts/demo does this).
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "common/os.h"
#include "common/file.h"
#include "stream/words.h"
#include "tools/toolkit/cli.h"

static const char usage_text[] =
        "usage: velmora-demo [--fps N] [--frames N] [--clock HH:MM:SS] [--output FILE]\n"
        "\n"
        "Writes an animated instruction stream for the Velmora display: a clock,\n"
        "text in every size, rotation and colour, and moving shapes.\n"
        "\n"
        "  --fps N        frames per second, 1..100; 0 writes as fast as it can\n"
        "                 (default 30)\n"
        "  --frames N     stop after N frames; 0 runs until stopped (default 0)\n"
        "  --clock HH:MM:SS  the clock stands at this time instead of showing the\n"
        "                 time of day: the same stream on every run\n"
        "  --output FILE  write to FILE instead of standard output\n"
        "  -h, --help     show this text\n"
        "  --version      show the version\n"
        "\n"
        "Example:\n"
        "  mkfifo /tmp/board && velmora-demo --output /tmp/board &\n"
        "  echo y | VELMORA_BOARD=fifo:/tmp/board velmora\n"
        "\n"
        "Exit status: 0 done or the reader went away; 2 bad usage or a write error.\n";

enum Colour { white = VW_WHITE, red = VW_RED, blue = VW_BLUE, black = VW_BLACK };

static std::vector<uint8_t> out;

// The time the clock shows, seconds into the day; -1 for the time of day.
static long stopped_clock = -1;

// push_back, not a range insert: GCC 12 warns falsely of an overflow there.
static void append(const uint8_t *bytes, size_t n)
{
	for (size_t i = 0; i < n; i++)
		out.push_back(bytes[i]);
}

static void word(uint16_t w)
{
	uint8_t b[2];
	append(b, vw_put(b, w));
}

static uint16_t grid(long v)
{
	return (uint16_t)(v < 0 ? 0 : v > 1023 ? 1023 : v);
}

static void move_to(Colour c, long x, long y)
{
	word(vw_set_x(grid(x)));
	word(vw_move_y(c, grid(y)));
}

static void draw_to(long x, long y)
{
	word(vw_set_x(grid(x)));
	word(vw_draw_y(grid(y)));
}

// size 0..7, rotation 0..3
static void text(long x, long y, int size, Colour c, int rotation, const char *s)
{
	word(vw_set_x(grid(x)));
	word(vw_set_y(grid(y)));
	word(vw_attributes(vw_attribute_byte(size, c, rotation)));
	for (; *s; s++)
		word(vw_character((uint8_t)*s));
}

static void polygon(Colour c, double cx, double cy, double r, int sides, double turn)
{
	for (int i = 0; i <= sides; i++) {
		double a = turn + 2 * M_PI * i / sides;
		long x = lround(cx + r * cos(a)), y = lround(cy + r * sin(a));
		if (i == 0)
			move_to(c, x, y);
		else
			draw_to(x, y);
	}
}

static void hand(Colour c, double cx, double cy, double length, double fraction)
{
	double a = M_PI / 2 - 2 * M_PI * fraction;
	move_to(c, lround(cx), lround(cy));
	draw_to(lround(cx + length * cos(a)), lround(cy + length * sin(a)));
}

// The picture is kept below y 776, the top of the window at its start size.
static void frame(int64_t n, double fps)
{
	double t = n / fps;
	// The sync pair opens every frame: a filler word to a display in step,
	// a fresh start to one that lost the framing.
	uint8_t sync[2];
	append(sync, vw_put_sync(sync));
	word(vw_clear());

	move_to(black, 8, 8);
	draw_to(1015, 8);
	draw_to(1015, 768);
	draw_to(8, 768);
	draw_to(8, 8);

	text(40, 720, 6, blue, 0, "VELMORA DEMO");

	// Clock: the time of day.
	struct tm local = {};
	if (stopped_clock >= 0) {
		local.tm_hour = (int)(stopped_clock / 3600);
		local.tm_min = (int)(stopped_clock / 60 % 60);
		local.tm_sec = (int)(stopped_clock % 60);
	} else {
		time_t now = time(nullptr);
		localtime_r(&now, &local);
	}
	const double cx = 860, cy = 590, r = 120;
	polygon(black, cx, cy, r, 60, 0);
	for (int h = 0; h < 12; h++) {
		double a = M_PI / 2 - 2 * M_PI * h / 12;
		move_to(black, lround(cx + 0.85 * r * cos(a)), lround(cy + 0.85 * r * sin(a)));
		draw_to(lround(cx + r * cos(a)), lround(cy + r * sin(a)));
	}
	double seconds = local.tm_sec;
	hand(black, cx, cy, 0.55 * r, (local.tm_hour % 12 + local.tm_min / 60.0) / 12);
	hand(blue, cx, cy, 0.8 * r, (local.tm_min + seconds / 60) / 60);
	hand(red, cx, cy, 0.95 * r, seconds / 60);
	char clock_text[16];
	snprintf(clock_text, sizeof clock_text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
	text(790, 430, 3, black, 0, clock_text);

	// Every size, in the four colours; white stands on a bar of black lines.
	static const Colour colours[] = {black, red, blue, white};
	long y = 690;
	for (int size = 1; size <= 7; size++) {
		y -= 6 * size + 10;
		Colour c = colours[size % 4];
		if (c == white) {
			for (long bar = y - 4; bar <= y + 6 * size + 2; bar++) {
				move_to(black, 34, bar);
				draw_to(360, bar);
			}
		}
		char label[24];
		snprintf(label, sizeof label, "Size %d abc", size);
		text(40, y, size, c, 0, label);
	}

	// The four directions of writing, out from a centre; the red one turns.
	const long rx = 560, ry = 430;
	static const int away[4][2] = {{16, 0}, {0, 16}, {-16, 0}, {0, -16}};
	int spin = (int)(n / (int64_t)fps) % 4;
	for (int rot = 0; rot < 4; rot++)
		text(rx + away[rot][0], ry + away[rot][1], 3, rot == spin ? red : blue, rot, "ROTATE");

	// Moving shapes: a turning hexagon on a Lissajous path, a bouncing square.
	polygon(red, 560 + 120 * sin(t * 0.9), 200 + 80 * sin(t * 1.7), 50, 6, t);
	double bounce = fabs(sin(t * 1.3));
	long sx = 820 + lround(120 * sin(t * 0.5)), sy = 60 + lround(220 * bounce);
	move_to(blue, sx, sy);
	draw_to(sx + 60, sy);
	draw_to(sx + 60, sy + 60);
	draw_to(sx, sy + 60);
	draw_to(sx, sy);

	word(vw_end_frame());
}

constexpr int64_t max_fps = 100;
constexpr int64_t max_frames = (int64_t)1 << 40;

// The option's value as a whole number lo..hi into *v: -1, or 2 once said
// what is wrong with it.
static std::function<int(const char *)> number(const char *option, int64_t lo, int64_t hi, int64_t *v)
{
	return [=](const char *s) {
		char *end;
		errno = 0;
		long long x = strtoll(s, &end, 10);
		if (errno || end == s || *end || x < lo || x > hi)
			return fail("velmora-demo", std::string(option) + " must be a whole number " +
			                                    std::to_string(lo) + ".." + std::to_string(hi) +
			                                    ", not '" + s + "'");
		*v = x;
		return -1;
	};
}

// --clock's value: -1, or 2 once said what is wrong with it.
static int take_clock(const char *s)
{
	const auto digits = [s](int i) {
		return isdigit((unsigned char)s[i]) && isdigit((unsigned char)s[i + 1])
		               ? (s[i] - '0') * 10 + s[i + 1] - '0'
		               : 99;
	};
	if (strlen(s) != 8 || s[2] != ':' || s[5] != ':' || digits(0) > 23 || digits(3) > 59 ||
	    digits(6) > 59)
		return fail("velmora-demo", std::string("--clock must be a time HH:MM:SS, not '") + s + "'");
	stopped_clock = digits(0) * 3600L + digits(3) * 60 + digits(6);
	return -1;
}

int main(int argc, char **argv)
{
	int64_t fps = 30, frames = 0;
	const char *path = nullptr;
	const CommandLine command_line = {
	        .tool = "velmora-demo",
	        .usage = usage_text,
	        .options = {{"--fps", nullptr, true, nullptr, nullptr, number("--fps", 0, max_fps, &fps)},
	                    {"--frames", nullptr, true, nullptr, nullptr,
	                     number("--frames", 0, max_frames, &frames)},
	                    {"--clock", nullptr, true, nullptr, nullptr, take_clock},
	                    value_option("--output", nullptr, nullptr, nullptr, &path)},
	        .sw_input = false,
	        .unknown = "unknown argument"};
	const char *no_input = nullptr;
	if (int status = read_command_line(command_line, argc, argv, &no_input); status >= 0)
		return status;

	int fd = 1;
	if (path) {
		fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | os_binary, 0644);
		if (fd < 0) {
			fprintf(stderr, "velmora-demo: cannot open %s: %s\n", path, strerror(errno));
			return 2;
		}
	}
	// A display that goes away ends the demo quietly.
	os_quiet_pipes();

	const int64_t period_ns = fps ? 1000000000 / fps : 0;
	timespec next;
	clock_gettime(CLOCK_MONOTONIC, &next);
	for (int64_t n = 0; frames == 0 || n < frames; n++) {
		out.clear();
		frame(n, fps ? (double)fps : 30.0);
		if (!write_all(fd, out.data(), out.size())) {
			if (errno == EPIPE)
				return 0;
			fprintf(stderr, "velmora-demo: write failed: %s\n", strerror(errno));
			return 2;
		}
		if (period_ns == 0)
			continue;
		next.tv_nsec += period_ns;
		if (next.tv_nsec >= 1000000000L) {
			next.tv_nsec -= 1000000000L;
			next.tv_sec++;
		}
		while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
		}
	}
	return 0;
}
