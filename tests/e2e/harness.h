// End-to-end harness: a private Xvfb, the real velmora binary as a child
// process with piped standard streams, Xlib helpers to find, measure, grab
// and close its window, byte streams built from instruction words, and a
// checker that compares a grabbed window with the segments it should show.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

// Xlib's macros (None, Bool, Status) break GoogleTest's headers, so only
// harness.cpp includes Xlib; the tests know a window by its id.
using Window = unsigned long;

namespace e2e
{

constexpr int default_timeout_ms = 10000;  // every wait in the suite is bounded by this
constexpr int poll_ms = 25;                // step of every polling loop

const char *velmora_path();

void sleep_ms(int ms);
// Polls pred every poll_ms until it holds or timeout_ms have passed.
bool wait_until(const std::function<bool()> &pred, int timeout_ms = default_timeout_ms);

// Writes all of bytes to fd (a pipe, pty or socket; SIGPIPE is ignored, so
// a reader that went away is a false result, not a dead test).
bool write_fully(int fd, const std::string &bytes);

// ---------------------------------------------------------------- processes

using EnvVars = std::vector<std::pair<std::string, std::string>>;

// A child process with stdin, stdout and stderr on pipes.  The child gets
// the test's own environment without DISPLAY, XAUTHORITY and VELMORA_*,
// plus `env`.  Output is collected by two reader threads.
class Child
{
      public:
	Child(const std::vector<std::string> &argv, const EnvVars &env);
	~Child();
	Child(const Child &) = delete;
	Child &operator=(const Child &) = delete;

	pid_t pid() const { return pid_; }
	std::string out();
	std::string err();

	// Waits until stdout satisfies pred (or the stream ends).
	bool wait_out(const std::function<bool(const std::string &)> &pred,
	              int timeout_ms = default_timeout_ms);
	bool wait_out_contains(const std::string &s, int timeout_ms = default_timeout_ms);

	bool write_in(const std::string &bytes);
	void close_in();

	void signal(int sig);
	bool running();
	// Waits for the child to end; true with its wait status in *status.
	bool wait_exit(int *status, int timeout_ms = default_timeout_ms);

	// Processor time (user + system, all threads) used so far, seconds.
	double cpu_seconds();

      private:
	void reader(int fd, std::string *sink, bool *done);

	pid_t pid_ = -1;
	bool reaped_ = false;
	int status_ = 0;
	int in_fd_ = -1;
	std::mutex mu_;
	std::condition_variable cv_;
	std::string out_, err_;
	bool out_done_ = false, err_done_ = false;
	std::thread out_thread_, err_thread_;
};

// Share of one core the child uses over `ms` milliseconds, in percent.
double cpu_percent(Child &c, int ms);

// ---------------------------------------------------------------- X server

// One Xvfb per test suite, on a display number of its own choosing, and one
// Xlib connection to it for the checks.
class XServer
{
      public:
	static void start();
	static void stop();
	static const std::string &display_name();
};

// The program's window, found by its title among the root's children.
Window find_window(const std::string &title, int timeout_ms = default_timeout_ms);

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

// Unmaps (minimises) or maps the window and waits until the server says so.
void set_mapped(Window w, bool mapped);
// Paints a black rectangle into the window from the harness's own
// connection: it stays there until the program paints over it.
void scribble(Window w, int x, int y, int width, int height);
// Makes the server send the window an Expose event for all of it, as when
// a window that covered it goes away.
void expose(Window w);

// ---------------------------------------------------------------- pixels

enum class Colour { White, Red, Blue, Black, Other };
const char *colour_name(Colour c);

struct Image {
	int width = 0, height = 0;
	std::vector<uint32_t> rgb;  // 0xRRGGBB, row by row from the top
	uint32_t at(int x, int y) const { return rgb[(size_t)y * (size_t)width + (size_t)x]; }
	Colour colour(int x, int y) const;
};
// False if the window cannot be read (gone, not viewable).  The whole
// window, or the rectangle at (x, y) of the size given.
bool grab(Window w, Image *img, int x = 0, int y = 0, int width = 0, int height = 0);

// The program's plot mapping of a stored coordinate 0..1023 to plot units.
float plot_map(uint16_t v);

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

// Number of pixels of the given colour.
int count_colour(const Image &img, Colour c);

// Polls the window until check_picture passes; the last mismatch otherwise.
std::string wait_for_picture(Window w, const std::vector<Segment> &segments,
                             int timeout_ms = default_timeout_ms);

// ---------------------------------------------------------------- streams

// Builds the board's byte stream, words high byte first.
class Stream
{
      public:
	Stream &sync();
	Stream &byte(uint8_t b);
	Stream &word(uint16_t w);

	Stream &set_x(uint16_t v) { return word((uint16_t)(0x0000 | (v & 0x3FF))); }
	Stream &set_y(uint16_t v) { return word((uint16_t)(0x0400 | (v & 0x3FF))); }
	Stream &move_x(unsigned colour, uint16_t v)
	{
		return word((uint16_t)(0x2000 | (colour & 3) << 11 | (v & 0x3FF)));
	}
	Stream &move_y(unsigned colour, uint16_t v)
	{
		return word((uint16_t)(0x2400 | (colour & 3) << 11 | (v & 0x3FF)));
	}
	Stream &draw_x(uint16_t v) { return word((uint16_t)(0x4000 | (v & 0x3FF))); }
	Stream &draw_y(uint16_t v) { return word((uint16_t)(0x4400 | (v & 0x3FF))); }
	Stream &clear() { return word(0x8100); }
	Stream &end_frame() { return word(0x8200); }
	Stream &attributes(unsigned a) { return word((uint16_t)(0x8300 | (a & 0x7F))); }
	Stream &character(uint8_t code) { return word((uint16_t)(0x8400 | code)); }

	// Two-word helpers: a move to (x, y) in a colour; a segment to (x, y).
	Stream &move_to(unsigned colour, uint16_t x, uint16_t y) { return set_y(y).move_x(colour, x); }
	Stream &line_to(uint16_t x, uint16_t y) { return set_y(y).draw_x(x); }
	Stream &text(const std::string &s);

	const std::string &bytes() const { return bytes_; }

      private:
	std::string bytes_;
};

// Colour index on the wire for a palette colour.
unsigned colour_index(Colour c);

// ---------------------------------------------------------------- velmora

// The output of a normal start-up with the default virtual device, up to
// and including the question.
std::string default_startup_lines();
std::string question();
std::string double_answer_line();  // "\nUsing double display buffers\n"
std::string single_answer_line();  // "\nUsing single display buffer\n"

extern const char window_title[];

// Starts velmora on the suite's X server with `env` added.  Sanitizer
// options are passed on with leak detection off: the GL stack leaves
// allocations behind at exit that are not the program's.
std::unique_ptr<Child> start_velmora(const EnvVars &env);

// Scratch files of one test, removed with it.
class TempDir
{
      public:
	TempDir();
	~TempDir();
	const std::string &path() const { return path_; }
	std::string file(const std::string &name, const std::string &contents) const;
	std::string fifo(const std::string &name) const;

      private:
	std::string path_;
};

// The writing end of a named pipe, opened once the reader has it open.
class FifoWriter
{
      public:
	explicit FifoWriter(const std::string &path);
	~FifoWriter();
	bool open(int timeout_ms = default_timeout_ms);
	bool write(const std::string &bytes);

      private:
	std::string path_;
	int fd_ = -1;
};

// Waits until the child has printed as much as expected, then compares it
// whole; a failure shows both stdout and stderr.
::testing::AssertionResult console_is(Child &child, const std::string &expected);

// Test fixture: the suite's X server runs from the first test to the last.
class E2eTest : public ::testing::Test
{
      public:
	static void SetUpTestSuite() { XServer::start(); }
	static void TearDownTestSuite() { XServer::stop(); }
};

// Starts velmora, answers the question once it is on the console, and
// waits for the window.  The startup output is checked on the way.
struct Running {
	std::unique_ptr<Child> child;
	Window window = 0;
};
Running start_with_window(const EnvVars &env, char answer);

}  // namespace e2e
