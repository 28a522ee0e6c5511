// The overlay's box on X: a child window of the display's window, painted
// from a pixmap in the server's "fixed" font.
#include "app/overlay_box.h"

#include <cstdlib>

#include <GL/glx.h>

static ::Display *dpy = nullptr;
static ::Window parent = 0, box = 0;
static Pixmap box_pixmap = 0;
static GC box_gc = nullptr, window_gc = nullptr;
static XFontStruct *font = nullptr;
static Visual *visual = nullptr;
static int depth = 0;
static int box_x = 0, box_y = 0, box_width = 0, box_height = 0, box_pad = 0, line_height = 0, ascent = 0;
static unsigned long ink = 0, paper = 0;

// A pixel of the window's visual for an 8-bit colour.
static unsigned long pixel_of(unsigned r, unsigned g, unsigned b)
{
	auto scale = [](unsigned v, unsigned long mask) {
		if (mask == 0)
			return 0ul;
		unsigned shift = 0;
		while (((mask >> shift) & 1) == 0)
			shift++;
		unsigned long max = mask >> shift;
		return ((v * max + 127) / 255) << shift;
	};
	return scale(r, visual->red_mask) | scale(g, visual->green_mask) | scale(b, visual->blue_mask);
}

bool box_make(int x, int y, int columns, int lines, int pad, int *width, int *height)
{
	dpy = glXGetCurrentDisplay();
	parent = glXGetCurrentDrawable();
	XWindowAttributes a;
	if (!dpy || !parent || !XGetWindowAttributes(dpy, parent, &a))
		return false;
	visual = a.visual;
	depth = a.depth;
	font = XLoadQueryFont(dpy, "fixed");
	window_gc = XCreateGC(dpy, parent, 0, nullptr);
	if (!font)
		font = XQueryFont(dpy, XGContextFromGC(window_gc));
	int char_width = font ? font->max_bounds.width : 6;
	ascent = font ? font->ascent : 10;
	line_height = font ? font->ascent + font->descent : 13;
	box_x = x;
	box_y = y;
	box_pad = pad;
	box_width = *width = columns * char_width + 2 * pad;
	box_height = *height = lines * line_height + 2 * pad;
	box_pixmap = XCreatePixmap(dpy, parent, (unsigned)box_width, (unsigned)box_height, (unsigned)depth);
	XSetWindowAttributes set;
	set.background_pixmap = box_pixmap;
	set.border_pixel = 0;
	set.colormap = a.colormap;
	box = XCreateWindow(dpy, parent, x, y, (unsigned)box_width, (unsigned)box_height, 0, depth,
	                    InputOutput, visual, CWBackPixmap | CWBorderPixel | CWColormap, &set);
	box_gc = XCreateGC(dpy, box_pixmap, 0, nullptr);
	if (font && font->fid)
		XSetFont(dpy, box_gc, font->fid);
	ink = pixel_of(240, 240, 240);
	paper = pixel_of(40, 40, 40);
	return true;
}

void box_draw(const std::vector<std::string> &lines)
{
	XSetForeground(dpy, box_gc, paper);
	XFillRectangle(dpy, box_pixmap, box_gc, 0, 0, (unsigned)box_width, (unsigned)box_height);
	XSetForeground(dpy, box_gc, ink);
	std::string all;
	for (size_t i = 0; i < lines.size(); i++) {
		XDrawString(dpy, box_pixmap, box_gc, box_pad, box_pad + ascent + (int)i * line_height,
		            lines[i].c_str(), (int)lines[i].size());
		all += lines[i] + "\n";
	}
	// Its text as the window's name too, for whoever cannot read pixels.
	XStoreName(dpy, box, all.c_str());
	XClearWindow(dpy, box);
	XFlush(dpy);
}

void box_show(bool sw_on)
{
	if (sw_on)
		XMapWindow(dpy, box);
	else
		XUnmapWindow(dpy, box);
	XFlush(dpy);
}

void box_put_back(const std::vector<uint8_t> &under, int under_width, int under_height)
{
	XImage *img = XCreateImage(dpy, visual, (unsigned)depth, ZPixmap, 0, nullptr, (unsigned)under_width,
	                           (unsigned)under_height, 32, 0);
	if (!img)
		return;
	img->data = (char *)malloc((size_t)img->bytes_per_line * (size_t)under_height);
	if (!img->data) {
		XDestroyImage(img);
		return;
	}
	for (int y = 0; y < under_height; y++)
		for (int x = 0; x < under_width; x++) {
			const uint8_t *p = &under[((size_t)y * (size_t)under_width + (size_t)x) * 3];
			XPutPixel(img, x, y, pixel_of(p[0], p[1], p[2]));
		}
	XPutImage(dpy, parent, window_gc, img, 0, 0, box_x, box_y, (unsigned)under_width,
	          (unsigned)under_height);
	XDestroyImage(img);
	XFlush(dpy);
}
