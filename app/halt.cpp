#include "common/platform.h"

#include <cstdio>

#include <GL/freeglut.h>

#include "app/app.h"
#include "display/display_list.h"
#include "stream/framer.h"
#include "usb/capture.h"
#include "usb/usb_link.h"

int32_t sw_main_loop = 0;
int32_t sw_halted = 0;

static void halted_display() {}

// Keeps the window alive without doing any of the program's work: only
// window-system events are handled, so the window repaints as the server
// asks (its white background, nothing drawn), the s key saves it, and a
// close ends the process through GLUT's default close action.  The timer
// no longer re-arms itself, so between events the process sleeps on the
// window system alone.
[[noreturn]] static void serve_window_only()
{
	sw_halted = 1;
	glutIdleFunc(nullptr);
	glutDisplayFunc(halted_display);
	for (;;) {
		glutMainLoopEvent();
		wait_for_window(-1);
	}
}

void error_exit()
{
	printf("close window to exit\n");
	fflush(stdout);
	if (nCommands > max_commands)
		say_overflow("velmora", nullptr, bytes_handed_out(), "the display halts there");
	capture_flush();  // nothing more will be read
	if (sw_main_loop) {
		sw_halted = 1;
		overlay_halted();
		serve_window_only();
	}
	// Before the window exists the console is the only window: wait,
	// asleep, until the process is ended by a signal.
	wait_until_ended();
}
