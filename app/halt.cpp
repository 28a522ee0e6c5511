#include "app/halt.h"

#include <poll.h>
#include <unistd.h>

#include <cstdio>

#include <GL/freeglut.h>
#include <GL/glx.h>

#include "app/app.h"

int32_t sw_main_loop = 0;
int32_t sw_halted = 0;

static void halted_display()
{
}

// Keeps the window alive without doing any of the program's work: only
// window-system events are handled, so the window repaints as the server
// asks (with nothing drawn) and a close ends the process through GLUT's
// default close action.  Sleeps in poll() between events.
[[noreturn]] static void serve_window_only()
{
	sw_halted = 1;
	glutIdleFunc(nullptr);
	glutDisplayFunc(halted_display);

	Display *dpy = glXGetCurrentDisplay();
	int fd = dpy ? ConnectionNumber(dpy) : -1;
	for (;;) {
		glutMainLoopEvent();
		if (fd >= 0) {
			pollfd p = {fd, POLLIN, 0};
			poll(&p, 1, -1);
		} else {
			pause();
		}
	}
}

void error_exit()
{
	printf("close window to exit\n");
	fflush(stdout);
	if (sw_main_loop)
		serve_window_only();
	// Before the window exists the console is the only window: wait,
	// asleep, until the process is ended by a signal.
	for (;;)
		pause();
}
