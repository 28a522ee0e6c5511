// What a double-buffered window shows, on X: the X server's copy of it,
// which the last swap put there.  The GL cannot read it on Mesa's software
// rasteriser, which keeps no front buffer of its own (GL_FRONT reads black).
#include "picture/presented.h"

#include <GL/glx.h>
#include <X11/Xutil.h>

// The X server keeps what was presented.
void before_swap() {}

namespace
{

int x_error = 0;

int on_x_error(::Display *, XErrorEvent *e)
{
	x_error = e->error_code;
	return 0;
}

unsigned shift_of(unsigned long mask)
{
	unsigned s = 0;
	while (mask != 0 && (mask & 1) == 0) {
		mask >>= 1;
		s++;
	}
	return s;
}

// One channel of an X pixel, scaled to 0..255.
unsigned channel(unsigned long pixel, unsigned long mask)
{
	if (mask == 0)
		return 0;
	unsigned long max = mask >> shift_of(mask);
	return (unsigned)(((pixel & mask) >> shift_of(mask)) * 255 / max);
}

}  // namespace

// The window's pixels as the X server has them.  An X error (the window
// not wholly on the screen gives BadMatch) must not reach Xlib's default
// handler, which ends the program.
bool read_presented(int32_t width, int32_t height, std::vector<uint8_t> *rgb)
{
	::Display *dpy = glXGetCurrentDisplay();
	GLXDrawable drawable = glXGetCurrentDrawable();
	if (!dpy || !drawable)
		return false;
	XSync(dpy, False);
	x_error = 0;
	int (*previous)(::Display *, XErrorEvent *) = XSetErrorHandler(on_x_error);
	XImage *image = XGetImage(dpy, drawable, 0, 0, (unsigned)width, (unsigned)height, AllPlanes, ZPixmap);
	XSync(dpy, False);
	XSetErrorHandler(previous);
	if (!image || x_error != 0) {
		if (image)
			XDestroyImage(image);
		return false;
	}
	rgb->resize((size_t)width * (size_t)height * 3);
	uint8_t *p = rgb->data();
	for (int32_t y = 0; y < height; y++)
		for (int32_t x = 0; x < width; x++) {
			unsigned long pixel = XGetPixel(image, x, y);
			*p++ = (uint8_t)channel(pixel, image->red_mask);
			*p++ = (uint8_t)channel(pixel, image->green_mask);
			*p++ = (uint8_t)channel(pixel, image->blue_mask);
		}
	XDestroyImage(image);
	return true;
}
