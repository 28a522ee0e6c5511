// The idle side of the event loop: read what the board has sent, then sleep
// until something can matter (bytes on the device, a window event, the
// next timer deadline) instead of spinning.
#include <GL/freeglut.h>

#include "app/app.h"
#include "display/display_list.h"
#include "stream/framer.h"
#include "usb/usb_link.h"

int32_t sw_hidden = 0;
int32_t timer_deadline = 0;
int32_t sw_tick_owed = 0;

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
	if (left <= 0 || window_events_pending())
		return;
	if (sw_wait)
		wait_for_window(left);  // a frame waits for its pass: only the timer or the window can help
	else
		usb_wait(window_connection(), left);
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
