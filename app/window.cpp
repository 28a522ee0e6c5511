// The window as the X server has it: its background, and whether it is
// still there.
#include <cstdlib>

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
