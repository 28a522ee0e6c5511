// End-to-end harness: a private Xvfb, the real velmora binary as a child
// process, Xlib helpers to find, measure, grab and close its window, byte
// streams built from instruction words, and a checker that compares a
// grabbed window with the segments it should show.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "stream/words.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

// Xlib's macros (None, Bool, Status) break GoogleTest's headers, so only
// harness.cpp includes Xlib; the tests know a window by its id.
using Window = unsigned long;

namespace e2e
{

using namespace support;

// ---------------------------------------------------------------- window

// The program's window, once it is viewable; 0 if not within timeout_ms.
Window find_window(int timeout_ms = default_timeout_ms);

struct Geometry {
	int x, y;           // top-left corner inside the border, root coordinates
	int width, height;  // inside size
	bool viewable;
};
Geometry window_geometry(Window w);

// Resizes the window, as a user would through a window manager, and waits
// until the server reports the new size.
bool resize_window(Window w, int width, int height);
// Asks the window to close, as a window manager would (WM_DELETE_WINDOW).
void close_window(Window w);
// Destroys the window from outside, as some window managers and tools do.
void destroy_window(Window w);
// The suite's X server, ":N".
const std::string &x_display();
// Presses and releases the key of the keysym ("s", "q", "Escape") in the window.
void press_key(Window w, const char *keysym);
// Unmaps (minimises) or maps the window and waits until the server says so.
void set_mapped(Window w, bool mapped);
// Paints a black rectangle into the window from the harness's own
// connection: it stays there until the program paints over it.
void scribble(Window w, int x, int y, int width, int height);
// Paints the whole screen black from the harness's connection, below every
// window: a window shows it wherever neither it nor the server paints.
void blacken_screen();
// Makes the server send the window an Expose event for all of it, as when
// a window that covered it goes away.
void expose(Window w);
// The name (WM_NAME) of the window's first child that is mapped, "" when
// none is.
std::string shown_child_name(Window w);

// ---------------------------------------------------------------- pixels

// The first four are the colour indexes on the wire.
enum class Colour { White, Red, Blue, Black, Other };

struct Image {
	int width = 0, height = 0;
	std::vector<uint32_t> rgb;  // 0xRRGGBB, row by row from the top
	uint32_t at(int x, int y) const { return rgb[(size_t)y * (size_t)width + (size_t)x]; }
	Colour colour(int x, int y) const;
};
// False if the window cannot be read (gone, not viewable).  The whole
// window, or the rectangle at (x, y) of the size given.
bool grab(Window w, Image *img, int x = 0, int y = 0, int width = 0, int height = 0);
int count_colour(const Image &img, Colour c);
// An 8-bit RGB PNG file; an empty image with the reason in *why if it is not one.
Image read_png(const std::string &path, std::string *why);
// Empty when the two hold the same pixels, else how many differ and the first.
std::string differences(const Image &a, const Image &b);

// Window pixel position (x from the left, y from the top, pixel centres at
// +0.5) of grid point (gx, gy) in a window of the given size: x spans
// -1..1 over the width, y starts at -1 on the bottom edge and one plot unit
// is width/2 pixels on both axes.
struct Point {
	double x, y;
};
Point grid_to_pixel(uint16_t gx, uint16_t gy, int width, int height);

struct Segment {
	uint16_t x0, y0, x1, y1;  // grid coordinates
	Colour colour;
};

// Checks an image against the segments it should show on a white
// background: every segment's pixels are there in its colour (a point of
// it, away from its ends, has a pixel of that colour within one pixel), and
// every pixel that is not white lies within `slack` pixels of a segment of
// its own colour.  Empty string when it matches, else what is wrong.
std::string check_picture(const Image &img, const std::vector<Segment> &segments, double slack = 1.3);
// Polls the window until check_picture passes; the last mismatch otherwise.
std::string wait_for_picture(Window w, const std::vector<Segment> &segments,
                             int timeout_ms = default_timeout_ms);

// ---------------------------------------------------------------- streams

// The board's byte stream.
class Stream
{
      public:
	Stream &sync()
	{
		uint8_t b[2];
		return append(b, vw_put_sync(b));
	}
	Stream &word(uint16_t w)
	{
		uint8_t b[2];
		return append(b, vw_put(b, w));
	}
	Stream &clear() { return word(vw_clear()); }
	Stream &end_frame() { return word(vw_end_frame()); }
	Stream &move_to(Colour c, uint16_t x, uint16_t y)
	{
		uint8_t b[4];
		return append(b, vw_put_move_to(b, (unsigned)c, x, y));
	}
	Stream &line_to(uint16_t x, uint16_t y)
	{
		uint8_t b[4];
		return append(b, vw_put_line_to(b, x, y));
	}
	// Each segment its own move and draw, so it starts a polyline of its
	// own in its colour.
	Stream &segments(const std::vector<Segment> &segs)
	{
		for (const Segment &s : segs)
			move_to(s.colour, s.x0, s.y0).line_to(s.x1, s.y1);
		return *this;
	}
	Stream &frame(const std::vector<Segment> &segs) { return clear().segments(segs).end_frame(); }
	Stream &text(unsigned attribute_byte, const std::string &s)
	{
		word(vw_attributes(attribute_byte));
		for (char ch : s)
			word(vw_character((uint8_t)ch));
		return *this;
	}

	const std::string &bytes() const { return bytes_; }

      private:
	Stream &append(const uint8_t *b, size_t n)
	{
		bytes_.append((const char *)b, n);
		return *this;
	}
	std::string bytes_;
};

// ---------------------------------------------------------------- velmora

// Device i as the start-up lists it; LocId 0x1000 + i unless given.
std::string listing(unsigned i, const std::string &serial, const std::string &description,
                    unsigned loc_id = 0);
// A start-up that finds one FT232R as its only device and opens it, up to
// and including the baud rate.
std::string startup_lines(const std::string &serial = "VB0000", unsigned loc_id = 0x1000);
inline const std::string question = "Double display buffer(y or n)?";
inline const std::string double_answer = "\nUsing double display buffers\n";
inline const std::string single_answer = "\nUsing single display buffer\n";

// True when velmora_command() runs the Windows build under Wine.
bool velmora_under_wine();

// VELMORA_BOARD for a board that sends nothing: an empty file, the same on
// every platform.
const std::string &silent_board();

// The command that runs velmora: the one built, or VELMORA_E2E_PROGRAM's
// words ("wine build-win/programs/app/velmora.exe" runs the Windows build).
std::vector<std::string> velmora_command();
// Starts velmora on the suite's X server with `env` added, in cwd if given,
// with args after its name.  Sanitizer options are passed on with leak
// detection off: the GL stack leaves allocations behind at exit that are
// not the program's.
std::unique_ptr<Child> start_velmora(const EnvVars &env, const std::vector<std::string> &args = {},
                                     const fs::path &cwd = {});

// Waits until the child has printed as much as expected, then compares it
// whole; a failure shows both stdout and stderr.
::testing::AssertionResult console_is(Child &child, const std::string &expected);

// Starts velmora, answers the question once it is on the console, and
// waits for the window.  The start-up output is checked on the way.
struct Running {
	std::unique_ptr<Child> child;
	Window window = 0;
};
Running start_with_window(const EnvVars &env, char answer, const fs::path &cwd = {});

// Presses s in the window and returns the name of the PNG that stderr says
// it saved (in the program's working folder); "" when none is said in time.
std::string save_with_s_key(Running &r);

// The writing end of a named pipe, opened once the reader has it open.
class FifoWriter
{
      public:
	explicit FifoWriter(const std::string &path) : path_(path) {}
	~FifoWriter();
	bool open(int timeout_ms = default_timeout_ms);
	bool write(const std::string &bytes) { return fd_ >= 0 && write_fully(fd_, bytes); }

      private:
	std::string path_;
	int fd_ = -1;
};

// Test fixture: the suite's X server runs from the first test to the last.
class E2eTest : public ::testing::Test
{
      public:
	static void SetUpTestSuite();
	static void TearDownTestSuite();
};

// Case names for tests run with both answers: 'y' Double, 'n' Single.
std::string buffering_name(const ::testing::TestParamInfo<char> &p);

}  // namespace e2e
