// The window as Windows has it: its background, whether it is still there,
// and waiting for its messages.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include <GL/freeglut.h>

#include "app/app.h"
#include "common/os.h"
#include "d2xx/helpers.h"

static HWND window = nullptr;

// The console's texts go out byte for byte, with no CR added to a line's
// end, and the answer is read as typed.  DISPLAY, set under Wine, means
// nothing to Windows' GLUT, which would take it for a display to open.
void platform_start()
{
	os_bytes_stdio();
	_putenv("DISPLAY=");
}

// White wherever the window is uncovered before a pass draws there, as
// every pass clears to: the class's brush paints it.
void window_created()
{
	window = WindowFromDC(wglGetCurrentDC());
	if (window)
		SetClassLongPtrA(window, GCLP_HBRBACKGROUND, (LONG_PTR)GetStockObject(WHITE_BRUSH));
}

bool window_exists()
{
	return !window || IsWindow(window);
}

void window_gone()
{
	exit(0);
}

// The device's wait watches the window's messages itself.
int window_connection()
{
	return -1;
}

bool window_events_pending()
{
	return GetQueueStatus(QS_ALLINPUT) != 0;
}

void wait_for_window(int64_t timeout_us)
{
	d2xx_wait_windows(nullptr, 0, timeout_us);
}

// GLUT's own clock, in whole milliseconds: the sleep ends within one.
int64_t us_until_timer()
{
	return ((int64_t)timer_deadline - glutGet(GLUT_ELAPSED_TIME)) * 1000;
}

void wait_until_ended()
{
	for (;;)
		Sleep(INFINITE);
}
