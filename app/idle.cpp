// The idle side of the event loop: read what the board has sent, then sleep
// until something can matter (bytes on the device, an X event, the next
// timer deadline) instead of spinning.
#include <poll.h>

#include <GL/freeglut.h>
#include <GL/glx.h>

#include "app/app.h"
#include "display/display_list.h"
#include "stream/framer.h"
#include "usb/usb_link.h"

int32_t sw_hidden = 0;
int32_t timer_deadline = 0;

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

void wait_for_window(int timeout_ms)
{
	if (x_events_pending())
		return;
	pollfd p = {x_connection(), POLLIN, 0};
	poll(&p, 1, timeout_ms);
}

void myIdle()
{
	GetInstruction();
	if (sw_time_up)
		return;  // bytes keep coming: back after GLUT's own work
	// GLUT runs the timer once its elapsed-time clock reaches the deadline;
	// a sleep of the whole rest in milliseconds gets there.
	int32_t left = timer_deadline - glutGet(GLUT_ELAPSED_TIME);
	if (left <= 0 || x_events_pending())
		return;
	if (sw_wait)
		wait_for_window(left);  // a frame waits for its pass: only the timer or X can help
	else
		usb_wait(x_connection(), left);
}

void myWindowStatus(int status)
{
	sw_hidden = status == GLUT_HIDDEN || status == GLUT_FULLY_COVERED;
}
