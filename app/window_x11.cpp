// The window as the X server has it: its background, whether it is still
// there, and waiting for its events.
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include <GL/freeglut.h>
#include <GL/glx.h>

#include "app/app.h"

static ::Display *x_display = nullptr;
static ::Window x_window = 0;

static int ignore_x_error(::Display *, XErrorEvent *)
{
	return 0;
}

// The server paints a window's background wherever it is exposed before
// the program draws there: white, as every pass clears to, so the window
// is white before double buffering's first frame and where a resize
// uncovers it after a halt.  A resize keeps what the window shows where it
// still fits (north-west gravity) instead of exposing it all, so the
// background never wipes a picture that no pass will draw again.
void window_created()
{
	x_display = glXGetCurrentDisplay();
	x_window = glXGetCurrentDrawable();
	XWindowAttributes a;
	if (!x_display || !x_window || !XGetWindowAttributes(x_display, x_window, &a))
		return;
	XSetWindowAttributes set;
	set.background_pixel = a.visual->red_mask | a.visual->green_mask | a.visual->blue_mask;
	if (set.background_pixel == 0)
		set.background_pixel = WhitePixelOfScreen(a.screen);
	set.bit_gravity = NorthWestGravity;
	XChangeWindowAttributes(x_display, x_window, CWBackPixel | CWBitGravity, &set);
	XClearWindow(x_display, x_window);
	XFlush(x_display);
}

// A round trip; Xlib's own handler would end the process on the BadWindow
// that a destroyed window gives.
bool window_exists()
{
	if (!x_display || !x_window)
		return true;
	XSync(x_display, False);
	int (*previous)(::Display *, XErrorEvent *) = XSetErrorHandler(ignore_x_error);
	XWindowAttributes a;
	Status ok = XGetWindowAttributes(x_display, x_window, &a);
	XSetErrorHandler(previous);
	return ok != 0;
}

// GLUT's clean-up at exit fails on a window that is gone, harmlessly, but
// Xlib's own handler would turn that into exit status 1.
void window_gone()
{
	XSetErrorHandler(ignore_x_error);
	exit(0);
}

void platform_start() {}

int window_connection()
{
	::Display *dpy = glXGetCurrentDisplay();
	return dpy ? ConnectionNumber(dpy) : -1;
}

// Xlib may already hold events it has read from the connection, which a
// poll on the connection would never report; XPending also sends what is
// still buffered for the server.
bool window_events_pending()
{
	::Display *dpy = glXGetCurrentDisplay();
	return dpy && XPending(dpy) > 0;
}

// With no connection to watch, GLUT is looked at every halt_wait_ms.
void wait_for_window(int64_t timeout_us)
{
	if (window_events_pending())
		return;
	int fd = window_connection();
	if (fd < 0 && timeout_us < 0)
		timeout_us = halt_wait_ms * 1000;
	pollfd p = {fd, POLLIN, 0};
	timespec t = {(time_t)(timeout_us / 1000000), (long)(timeout_us % 1000000) * 1000};
	ppoll(&p, 1, timeout_us < 0 ? nullptr : &t, nullptr);
}

static int64_t monotonic_ns()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

// GLUT's clock counts whole milliseconds of the monotonic clock since its
// start, so the deadline falls on a millisecond boundary of the monotonic
// clock: the sleep ends right there, not up to a millisecond late.
int64_t us_until_timer()
{
	int64_t now, again;
	int32_t elapsed;
	do {
		now = monotonic_ns();
		elapsed = glutGet(GLUT_ELAPSED_TIME);
		again = monotonic_ns();
	} while (now / 1000000 != again / 1000000);
	int64_t glut_start_ms = now / 1000000 - elapsed;
	return ((glut_start_ms + timer_deadline) * 1000000 - now) / 1000;
}

void wait_until_ended()
{
	for (;;)
		pause();
}
