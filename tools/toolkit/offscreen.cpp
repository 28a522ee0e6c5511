#include "tools/toolkit/offscreen.h"

#include <GL/osmesa.h>
#include <GL/glut.h>

#include "display/display_list.h"
#include "display/renderer.h"
#include "picture/picture.h"

// The window being emulated, for the pass under way.
static int32_t width = 0;
static int32_t height = 0;
static bool sw_double = true;

// The front buffer: what the window shows.  The pass draws into the OSMesa
// buffer, the back buffer when there are two.
static std::vector<uint8_t> *front = nullptr;
static int32_t swaps_left = 0;  // swaps in the pass still to come
static bool sw_front_failed = false;

// A double-buffered window shows the back buffer at each swap and keeps
// it, so the next frame of the same pass draws over it.  Only the pass's
// last swap is ever seen, so only it is read.  A single-buffered window
// ignores swaps.
void glutSwapBuffers(void)
{
	if (!sw_double || --swaps_left != 0)
		return;
	sw_front_failed |= !read_framebuffer(width, height, front);
}

// GLU's own definition.
void gluOrtho2D(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top)
{
	glOrtho(left, right, bottom, top, -1.0, 1.0);
}

bool offscreen_pass(const DisplayRecord *list, int32_t n, int32_t w, int32_t h, bool sw_double_,
                    std::vector<uint8_t> *rgb, std::string *why)
{
	width = w;
	height = h;
	sw_double = sw_double_;
	front = rgb;
	sw_front_failed = false;
	std::vector<uint8_t> back((size_t)width * (size_t)height * 4);
	OSMesaContext ctx = OSMesaCreateContextExt(OSMESA_RGBA, 24, 0, 0, nullptr);
	if (!ctx || !OSMesaMakeCurrent(ctx, back.data(), GL_UNSIGNED_BYTE, width, height)) {
		if (ctx)
			OSMesaDestroyContext(ctx);
		*why = "cannot make an off-screen GL context";
		return false;
	}
	resizeWindow(width, height);
	glClearColor(1.0f, 1.0f, 1.0f, 0.0f);

	swaps_left = 0;
	for (int32_t i = 0; i < n; i++)
		swaps_left += list[i].kind == CMD_END_FRAME;
	bool sw_presents = !sw_double || swaps_left > 0;
	int32_t wait = 0;  // no framer to release
	draw_list(list, n, &wait);
	if (!sw_double)
		sw_front_failed |= !read_framebuffer(width, height, front);
	OSMesaDestroyContext(ctx);

	if (!sw_presents)
		*why = "with double buffering nothing is shown before the first end of frame";
	else if (sw_front_failed)
		*why = "cannot read the off-screen picture";
	return sw_presents && !sw_front_failed;
}
