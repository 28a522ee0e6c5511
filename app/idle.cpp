// The idle side of the event loop: read what the board has sent, then sleep
// until something can matter (bytes on the device, an X event, the next
// timer deadline) instead of spinning.
#include <poll.h>

#include <ctime>

#include <GL/freeglut.h>
#include <GL/glx.h>

#include "app/app.h"
#include "display/display_list.h"
#include "stream/framer.h"
#include "usb/usb_link.h"

int32_t sw_hidden = 0;
int32_t timer_deadline = 0;
int32_t sw_tick_owed = 0;

int x_connection()
{
	::Display *dpy = glXGetCurrentDisplay();
	return dpy ? ConnectionNumber(dpy) : -1;
}

// Xlib may already hold events it has read from the connection, which a
// poll on the connection would never report; XPending also sends what is
// still buffered for the server.
static bool x_events_pending()
{
	::Display *dpy = glXGetCurrentDisplay();
	return dpy && XPending(dpy) > 0;
}

void wait_for_window(int64_t timeout_us)
{
	if (x_events_pending())
		return;
	pollfd p = {x_connection(), POLLIN, 0};
	timespec t = {(time_t)(timeout_us / 1000000), (long)(timeout_us % 1000000) * 1000};
	ppoll(&p, 1, timeout_us < 0 ? nullptr : &t, nullptr);
}

static int64_t monotonic_ns()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

// Microseconds until GLUT runs the timer.  GLUT's clock counts whole
// milliseconds of the monotonic clock since its start, so the deadline
// falls on a millisecond boundary of the monotonic clock: the sleep ends
// right there, not up to a millisecond late.
static int64_t us_until_timer()
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

void myIdle()
{
	GetInstruction();
	overlay_watch();
	if (sw_wait && sw_tick_owed && !sw_hidden) {
		sw_tick_owed = 0;
		glutPostRedisplay();
		return;
	}
	if (sw_time_up)
		return;  // bytes keep coming: back after GLUT's own work
	int64_t left = us_until_timer();
	if (left <= 0 || x_events_pending())
		return;
	if (sw_wait)
		wait_for_window(left);  // a frame waits for its pass: only the timer or X can help
	else
		usb_wait(x_connection(), left);
}

// A window destroyed from outside is first unmapped, which GLUT reports as
// hidden; GLUT itself ignores the destruction.  Destroyed is closed: the
// program ends as GLUT's close action ends it, the capture flushed at exit.
void myWindowStatus(int status)
{
	sw_hidden = status == GLUT_HIDDEN || status == GLUT_FULLY_COVERED;
	if (status == GLUT_HIDDEN && !window_exists())
		window_gone();
}
