// The i key's overlay: a few lines in the window's top-left corner that
// tell what arrives (bytes and words a second), what is shown (frames a
// second, the list's records), whether the stream is in step (sync found
// or lost, and when), what the platform layer reported on stderr (line
// errors), the halt and its reason, and that nothing has arrived for a
// while.  Off at start.
//
// It is a window of its own, a child of the display's window
// (app/overlay_box.h): the passes never draw it, so the window's own pixels
// stay exactly what they draw.  The pixels it covers are kept (from the window
// when it appears, then from the back buffer before every swap), so that
// the s key saves the window as it is without it, and taking it away puts
// them back even where no pass follows (a half-built list with double
// buffering, a halt).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <GL/freeglut.h>

#include "app/app.h"
#include "app/overlay_box.h"
#include "common/os.h"
#include "display/display_list.h"
#include "picture/picture.h"
#include "picture/presented.h"
#include "stream/framer.h"
#include "usb/usb_link.h"

constexpr int overlay_x = 4;                // pixels from the window's left edge
constexpr int overlay_y = 4;                // pixels from its top edge
constexpr int overlay_lines = 6;            // lines of text
constexpr int overlay_columns = 54;         // characters a line; longer ones are cut
constexpr int overlay_pad = 4;              // pixels around the text
constexpr int64_t overlay_redraw_ms = 500;  // how often the shown overlay is brought up to date
constexpr int64_t rate_window_ms = 1000;    // rates are counted over this long
constexpr int64_t quiet_ms = 1000;          // no byte for this long is said

static bool sw_overlay = false;  // shown

// The window's pixels under the box, rows from the top, 3 bytes a pixel;
// the part of the box that lies inside the window.
static std::vector<uint8_t> under;
static int under_width = 0, under_height = 0;

// What is counted and watched.
static uint64_t frames_shown = 0;  // passes that presented a frame the framer waited on
static int64_t sample_ms = 0, drawn_ms = 0;
static uint64_t sample_bytes = 0, sample_words = 0, sample_frames = 0;
static double bytes_per_s = 0, words_per_s = 0, frames_per_s = 0;
static uint64_t bytes_seen = 0;
static int64_t bytes_seen_ms = 0;  // when bytes_received last changed
static bool sw_in_step = false, sw_ever_in_step = false;
static time_t step_changed = 0;  // wall clock of the last change

static int64_t now_ms()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

static std::string clock_text(time_t t)
{
	tm local;
	localtime_r(&t, &local);
	char s[16];
	strftime(s, sizeof s, "%H:%M:%S", &local);
	return s;
}

static std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
static std::string format(const char *fmt, ...)
{
	char s[256];
	va_list ap;
	va_start(ap, fmt);
	vsnprintf(s, sizeof s, fmt, ap);
	va_end(ap);
	return s;
}

static std::string halt_reason()
{
	if (nCommands > max_commands)
		return format("too many commands at byte offset %llu",
		              (unsigned long long)overflow_at(bytes_handed_out()));
	if (state > state_low)
		return "state machine error";
	return usb_failure ? usb_failure : "";
}

static std::vector<std::string> overlay_text()
{
	std::vector<std::string> l;
	int64_t now = now_ms();
	if (sw_halted)
		l.push_back(format("received: %llu bytes, %llu words; no more is read",
		                   (unsigned long long)bytes_received, (unsigned long long)words_taken));
	else if (bytes_received == 0)
		l.push_back("received: nothing yet");
	else if (now - bytes_seen_ms >= quiet_ms)
		l.push_back(format("received: nothing for %lld s (%llu bytes in all)",
		                   (long long)((now - bytes_seen_ms) / 1000),
		                   (unsigned long long)bytes_received));
	else
		l.push_back(format("received: %.0f bytes/s, %.0f words/s", bytes_per_s, words_per_s));
	l.push_back(format("shown: %.0f frames/s; list %d of %d records", sw_halted ? 0.0 : frames_per_s,
	                   (int)nCommands, (int)max_commands));
	if (sw_in_step)
		l.push_back("sync: found at " + clock_text(step_changed));
	else if (sw_ever_in_step)
		l.push_back("sync: lost at " + clock_text(step_changed) + " (3 s of silence)");
	else if (bytes_received == 0)
		l.push_back("sync: not yet");
	else
		l.push_back(format("sync: none yet: all %llu bytes dropped",
		                   (unsigned long long)bytes_handed_out()));
	const char *last = "";
	uint32_t said = d2xx_said(&last);
	if (said == 0) {
		l.push_back("line: no errors reported");
		l.push_back("");
	} else {
		l.push_back(format("line: %u report%s on stderr, the last:", (unsigned)said,
		                   said == 1 ? "" : "s"));
		l.push_back(std::string("  ") + last);
	}
	l.push_back(sw_halted ? "halted: " + halt_reason() : "");
	for (std::string &s : l)
		if (s.size() > (size_t)overlay_columns)
			s = s.substr(0, overlay_columns - 3) + "...";
	return l;
}

static int box_width = 0, box_height = 0;  // pixels, once made
static bool sw_box_made = false;

static void draw_box()
{
	box_draw(overlay_text());
	drawn_ms = now_ms();
}

// The part of the box inside a window of this size.
static void box_in(int32_t width, int32_t height, int *w, int *h)
{
	*w = width - overlay_x < box_width ? width - overlay_x : box_width;
	*h = height - overlay_y < box_height ? height - overlay_y : box_height;
	if (*w < 0 || *h < 0)
		*w = *h = 0;
}

// The box's pixels from the GL buffer given (GL_BACK before a swap,
// GL_FRONT with single buffering, which the box never reaches).
static void keep_under_from_gl(GLenum which)
{
	GLint vp[4];
	glGetIntegerv(GL_VIEWPORT, vp);
	box_in(vp[2], vp[3], &under_width, &under_height);
	under.resize((size_t)under_width * (size_t)under_height * 3);
	if (under.empty())
		return;
	std::vector<uint8_t> rows(under.size());
	GLint read_buffer = GL_BACK, alignment = 4;
	glGetIntegerv(GL_READ_BUFFER, &read_buffer);
	glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
	glReadBuffer(which);
	glPixelStorei(GL_PACK_ALIGNMENT, 1);
	glReadPixels(overlay_x, vp[3] - overlay_y - under_height, under_width, under_height, GL_RGB,
	             GL_UNSIGNED_BYTE, rows.data());
	glPixelStorei(GL_PACK_ALIGNMENT, alignment);
	glReadBuffer((GLenum)read_buffer);
	size_t row = (size_t)under_width * 3;
	for (int y = 0; y < under_height; y++)
		memcpy(&under[(size_t)y * row], &rows[(size_t)(under_height - 1 - y) * row], row);
}

// The box's pixels as the window has them now, the box not yet there.
static void keep_under_from_window()
{
	int32_t width = glutGet(GLUT_WINDOW_WIDTH), height = glutGet(GLUT_WINDOW_HEIGHT);
	std::vector<uint8_t> rgb;
	box_in(width, height, &under_width, &under_height);
	under.clear();
	if (!read_window(width, height, &rgb)) {
		under_width = under_height = 0;  // nothing kept
		return;
	}
	size_t row = (size_t)under_width * 3;
	for (int y = 0; y < under_height; y++) {
		const uint8_t *from = &rgb[((size_t)(overlay_y + y) * (size_t)width + overlay_x) * 3];
		under.insert(under.end(), from, from + row);
	}
}

void overlay_key()
{
	if (!sw_box_made && !(sw_box_made = box_make(overlay_x, overlay_y, overlay_columns, overlay_lines,
	                                             overlay_pad, &box_width, &box_height)))
		return;
	sw_overlay = !sw_overlay;
	if (sw_overlay) {
		keep_under_from_window();
		draw_box();
		box_show(true);
	} else {
		if (!sw_double)
			keep_under_from_gl(GL_FRONT);
		box_show(false);
		if (!under.empty())
			box_put_back(under, under_width, under_height);
	}
}

void overlay_watch()
{
	bool in_step = state == state_high || state == state_low;
	if (in_step != sw_in_step) {
		sw_in_step = in_step;
		sw_ever_in_step |= in_step;
		step_changed = time(nullptr);
	}
}

void overlay_tick()
{
	int64_t now = now_ms();
	if (bytes_received != bytes_seen) {
		bytes_seen = bytes_received;
		bytes_seen_ms = now;
	}
	if (now - sample_ms >= rate_window_ms) {
		double s = (double)(now - sample_ms) / 1000.0;
		bytes_per_s = (double)(bytes_received - sample_bytes) / s;
		words_per_s = (double)(words_taken - sample_words) / s;
		frames_per_s = (double)(frames_shown - sample_frames) / s;
		sample_ms = now;
		sample_bytes = bytes_received;
		sample_words = words_taken;
		sample_frames = frames_shown;
	}
	if (sw_overlay && now - drawn_ms >= overlay_redraw_ms)
		draw_box();
}

void overlay_halted()
{
	if (sw_overlay)
		draw_box();
}

void overlay_patch(std::vector<uint8_t> *rgb, int32_t width, int32_t height)
{
	if (!sw_overlay)
		return;
	if (!sw_double)
		keep_under_from_gl(GL_FRONT);
	// The window may have been resized since the pixels were kept, with no
	// swap since: they are where they were (north-west gravity).
	int w, h;
	box_in(width, height, &w, &h);
	w = w < under_width ? w : under_width;
	h = h < under_height ? h : under_height;
	for (int y = 0; y < h; y++)
		memcpy(&(*rgb)[((size_t)(overlay_y + y) * (size_t)width + overlay_x) * 3],
		       &under[(size_t)y * (size_t)under_width * 3], (size_t)w * 3);
}

// Every swap goes through here (the program is linked with
// --wrap=glutSwapBuffers): a swap that releases the framer presents a new
// frame, and with the overlay shown the pixels it is about to cover are
// kept from the back buffer first.
extern "C" void __real_glutSwapBuffers();
extern "C" void __wrap_glutSwapBuffers();
extern "C" void __wrap_glutSwapBuffers()
{
	if (sw_wait)
		frames_shown++;
	if (sw_overlay && sw_double)
		keep_under_from_gl(GL_BACK);
	before_swap();
	__real_glutSwapBuffers();
}
