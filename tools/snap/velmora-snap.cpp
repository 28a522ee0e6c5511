// velmora-snap: a picture of what the display window shows for a byte
// stream.  The bytes run through the program's own framer, decoder, stroker
// and display list, and the program's own drawing pass and resizeWindow()
// draw the list into an off-screen OSMesa buffer (tools/toolkit/offscreen).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/config.h"
#include "common/platform.h"
#include "display/display_list.h"
#include "picture/picture.h"
#include "stream/encode.h"
#include "stream/framer.h"
#include "tools/toolkit/cli.h"
#include "tools/toolkit/halt.h"
#include "tools/toolkit/input.h"
#include "tools/toolkit/offscreen.h"
#include "tools/toolkit/output.h"
#include "tools/toolkit/replay.h"

constexpr size_t read_chunk = 1 << 16;  // bytes read from the input at a time
constexpr int32_t max_side = 4096;      // pixels, either side

static const char usage_text[] =
        "usage: velmora-snap [OPTIONS] -o OUT [FILE]\n"
        "\n"
        "Pictures what the Velmora display window shows for a byte stream (FILE,\n"
        "or standard input when FILE is absent or \"-\"; a FILE named *.vel is read\n"
        "as velmora-encode's text form): the display program's own\n"
        "framer, decoder and renderer draw it off screen, so at the same window size\n"
        "and buffering the PNG holds the window's pixels exactly.\n"
        "\n"
        "  -o OUT        write the picture to OUT; \"-\" is standard output (not a\n"
        "                terminal).  Required.  A regular file is written beside it\n"
        "                under a temporary name and renamed over it when complete,\n"
        "                keeping its mode and owner; one with other hard links is\n"
        "                written in place, so every link sees the new picture.  A\n"
        "                device or FIFO is written straight through, never\n"
        "                replaced; a symbolic link's target is written.\n"
        "  --frame K     the window just after the drawing pass of frame K (1 is the\n"
        "                first end-of-frame word); reading stops there\n"
        "  --eof         the window once all the input is read: with single\n"
        "                buffering the whole list, records after the last end of\n"
        "                frame too; with double buffering the last frame, as that is\n"
        "                what the window presents\n"
        "                (default: the last complete frame)\n"
        "  --size WxH    window size in pixels, each 1..4096 (default 664x498, the\n"
        "                window's size at start)\n"
        "  --double      double buffering, the display's answer y (default)\n"
        "  --single      single buffering, any other answer\n"
        "  --svg         write an SVG of the same picture instead of a PNG\n"
        "  -h, --help    show this text\n"
        "  --version     show the version\n"
        "\n"
        "A frame's picture is the whole display list when its end of frame is\n"
        "reached: a frame drawn without a clear before it shows over the last.\n"
        "\n"
        "Examples:\n"
        "  velmora-snap -o box.png examples/box_text.bin\n"
        "  velmora-snap --frame 1 --single --size 1024x768 -o first.png examples/box_text.bin\n"
        "  velmora-demo --fps 0 | velmora-snap --frame 30 --svg -o demo.svg\n"
        "\n"
        "A stream that overflows the display list (\"too many commands\") halts the\n"
        "display: reading stops there, and the picture is of what the window shows\n"
        "at the halt (by default the last frame completed before it); standard\n"
        "error says where it overflowed.\n"
        "\n"
        "Exit status: 0 written; 1 the display list overflowed before the picture\n"
        "(the picture is still written if the window has one to show); 2 bad\n"
        "usage, unreadable input (a .vel file that does not parse), no sync pair in\n"
        "the stream (unless --eof), no such frame, or the picture could not be made\n"
        "or written.  Messages go to standard error, never to standard output.\n";

// The window being emulated.
static int32_t width = start_width;
static int32_t height = start_height;
static bool sw_double = true;

// The display program's halt: the framer has printed "too many commands".
// The display reads nothing more, and its window keeps what it shows: the
// picture is made of that.
static bool sw_halted = false;

// After a halt the overflow is what went wrong: status 1.
static int fail(const std::string &what)
{
	return fail("velmora-snap", what, sw_halted ? 1 : 2);
}

// ---------------------------------------------------------------- frames

// The list as the last end of frame left it, for when the input goes on
// past it.  Records are only appended between clears, so without a clear
// since the last copy only the new ones are copied: each record at most
// once over the whole stream.
static std::vector<DisplayRecord> last_frame;
static uint32_t last_frame_clears = 0;

static void keep_frame()
{
	if (nClears != last_frame_clears)
		last_frame.clear();
	last_frame.insert(last_frame.end(), command + last_frame.size(), command + nCommands);
	last_frame_clears = nClears;
}

static void restore_frame()
{
	memcpy(command, last_frame.data(), last_frame.size() * sizeof(DisplayRecord));
	nCommands = (int32_t)last_frame.size();
}

// ---------------------------------------------------------------- options

static bool parse_count(const char *s, uint64_t *v)
{
	if (*s < '0' || *s > '9')
		return false;
	errno = 0;
	char *end = nullptr;
	unsigned long long n = strtoull(s, &end, 10);
	if (errno != 0 || *end != '\0')
		return false;
	*v = n;
	return true;
}

static bool parse_size(const char *s, int32_t *w, int32_t *h)
{
	const char *x = strchr(s, 'x');
	if (!x)
		return false;
	std::string first(s, x);
	uint64_t a = 0, b = 0;
	if (!parse_count(first.c_str(), &a) || !parse_count(x + 1, &b))
		return false;
	if (a < 1 || a > max_side || b < 1 || b > max_side)
		return false;
	*w = (int32_t)a;
	*h = (int32_t)b;
	return true;
}

// What the command line asks for.
static uint64_t frame_wanted = 0;  // 0: the last complete frame
static bool sw_eof = false;
static bool sw_svg = false;

static int read_options(int argc, char **argv, const char **path, const char **out_path)
{
	const CommandLine command_line = {
	        .tool = "velmora-snap",
	        .usage = usage_text,
	        .options = {value_option("-o", nullptr, nullptr, nullptr, out_path),
	                    {"--frame", nullptr, true, nullptr, nullptr,
	                     [](const char *v) {
		                     if (!parse_count(v, &frame_wanted) || frame_wanted == 0)
			                     return usage_error("velmora-snap",
			                                        "--frame needs a frame number from 1, not '" +
			                                                std::string(v) + "'");
		                     return -1;
	                     }},
	                    {"--size", nullptr, true, nullptr, nullptr,
	                     [](const char *v) {
		                     if (!parse_size(v, &width, &height))
			                     return usage_error("velmora-snap",
			                                        "size must be WxH, each 1..4096, not '" +
			                                                std::string(v) + "'");
		                     return -1;
	                     }},
	                    switch_option("--eof", &sw_eof, true),
	                    switch_option("--double", &sw_double, true),
	                    switch_option("--single", &sw_double, false),
	                    switch_option("--svg", &sw_svg, true)},
	        .sw_input = true};
	if (int status = read_command_line(command_line, argc, argv, path); status >= 0)
		return status;
	if (!*out_path)
		return usage_error("velmora-snap", "no output: give -o OUT");
	if (sw_eof && frame_wanted != 0)
		return usage_error("velmora-snap", "--eof and --frame cannot go together");
	return -1;
}

// ---------------------------------------------------------------- the replay

static const char *name = "";       // the input, in messages
static bool sw_last_frame = false;  // the picture is of the last complete frame
static uint64_t frames = 0;         // end-of-frame words taken
static bool sw_stop = false;        // no byte more is read
static unsigned char chunk[read_chunk];
static size_t last_read = 0;  // bytes in chunk from the last read, for the text hint

// The framer takes n bytes, as a window would with a pass at every end of frame.
static void take(const unsigned char *bytes, size_t n)
{
	source_give(bytes, n);
	for (;;) {
		try {
			GetInstruction();
		} catch (const Halt &) {
			say_overflow("velmora-snap", name, bytes_read, "the display halts there");
			sw_halted = true;
			sw_stop = true;
			return;
		}
		if (sw_wait == 0)
			return;  // every byte taken
		// A drawing pass would run here and release the framer.
		frames++;
		sw_wait = 0;
		if (frames == frame_wanted) {
			sw_stop = true;
			return;
		}
		if (sw_last_frame)
			keep_frame();
	}
}

// A .vel file was encoded whole; anything else is read as it comes, so that
// reading can stop at a frame of an endless stream.  -1, or the exit status.
static int replay(Input *in)
{
	if (in->sw_vel)
		take(in->vel.data(), in->vel.size());
	while (!in->sw_vel && !sw_stop) {
		ssize_t n = read_input(in, chunk, sizeof chunk);
		if (n < 0)
			return sw_halted ? 1 : 2;
		if (n == 0)
			break;
		last_read = (size_t)n;
		take(chunk, (size_t)n);
	}

	const char *before_halt = sw_halted ? " before the halt" : "";
	if (frames == 0 && state <= state_half_sync) {
		// Never in step: the window stays white, which only --eof asks for.
		std::string never =
		        !in->sw_vel && looks_like_text(chunk, last_read)
		                ? text_hint(name)
		                : std::string(name) +
		                          " has no sync pair (FF FF): the display drops every byte";
		if (!sw_eof)
			return fail(never);
		fprintf(stderr, "velmora-snap: %s\n", never.c_str());
	}
	if (frame_wanted != 0 && frames < frame_wanted) {
		return fail("frame " + std::to_string(frame_wanted) + " asked, " + name + " has " +
		            std::to_string(frames) + (frames == 1 ? " frame" : " frames") + before_halt);
	}
	if (sw_last_frame) {
		if (frames == 0)
			return fail(std::string(name) + " has no end of frame" + before_halt +
			            "; with --single, --eof shows what it draws");
		restore_frame();
	}
	return -1;
}

// ---------------------------------------------------------------- the picture

int main(int argc, char **argv)
{
	const char *path = nullptr;
	const char *out_path = nullptr;
	if (int status = read_options(argc, argv, &path, &out_path); status >= 0)
		return status;

	// Standard output carries the picture or nothing.
	int out_fd;
	std::string why;
	if (!set_aside_stdout(strcmp(out_path, "-") == 0, "picture", &out_fd, &why))
		return fail(why);

	Input in;
	if (!open_input(&in, "velmora-snap", path,
	                {.sw_vel = true, .sw_quote = false, .stdin_name = "standard input"}))
		return 2;
	name = in.name.c_str();
	// The picture is of the list at the last end of frame unless a frame is
	// named or the whole input is drawn as it stands.
	sw_last_frame = frame_wanted == 0 && (sw_double || !sw_eof);
	if (int status = replay(&in); status >= 0)
		return status;

	std::vector<uint8_t> bytes, front;
	if (sw_svg) {
		std::string svg = display_list_svg(width, height, sw_double);
		bytes.assign(svg.begin(), svg.end());
	} else if (!offscreen_pass(command, nCommands < max_commands ? nCommands : max_commands, width,
	                           height, sw_double, &front, &why) ||
	           !encode_png(width, height, front.data(), &bytes, &why)) {
		return fail(why);
	}

	if (!write_output(out_fd, out_path, bytes.data(), bytes.size(), &why))
		return fail(why);
	return sw_halted ? 1 : 0;
}
