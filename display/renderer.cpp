#include "display/renderer.h"

#include <GL/freeglut.h>

#include "display/display_list.h"

int32_t sw_line_started = 0;
float xstart = 0.0f;
float ystart = 0.0f;

// The list as the last pass drew it.
static int32_t drawn_count = -1;
static uint32_t drawn_clears = 0;

constexpr double color_scale = 0.00390625;  // 1/256 per colour step

static float channel(unsigned byte)
{
	return (float)(byte * color_scale);
}

void Display()
{
	draw_list(command, nCommands < max_commands ? nCommands : max_commands, &sw_wait);
	drawn_count = nCommands;
	drawn_clears = nClears;
}

void draw_list(const DisplayRecord *list, int32_t n, int32_t *wait)
{
	glClear(GL_COLOR_BUFFER_BIT);
	glColor3f(1.0f, 0.0f, 0.0f);
	sw_line_started = 0;

	for (int32_t i = 0; i < n; i++) {
		const DisplayRecord &r = list[i];
		switch (r.kind) {
		case CMD_GOTO:
			if (sw_line_started == 1)
				glEnd();
			xstart = plot_map(r.p1, max_x);
			ystart = plot_map(r.p2, max_y);
			glBegin(GL_LINE_STRIP);
			glVertex2f(xstart, ystart);
			sw_line_started = 1;
			break;
		case CMD_DRAW:
			xstart = plot_map(r.p1, max_x);
			ystart = plot_map(r.p2, max_y);
			if (sw_line_started == 1)
				glVertex2f(xstart, ystart);
			break;
		case CMD_COLOR:
			glColor3f(channel(r.p2 & 0xFF), channel(r.p2 >> 8), channel(r.p1 & 0xFF));
			break;
		case CMD_END_FRAME:
			if (sw_line_started == 1)
				glEnd();
			sw_line_started = 0;
			glFlush();
			glutSwapBuffers();
			*wait = 0;
			break;
		default:
			break;
		}
	}
	if (sw_line_started == 1)
		glEnd();
	glFlush();
}

bool PassNeeded(bool sw_double)
{
	if (sw_wait != 0)
		return true;
	return !sw_double && (nCommands != drawn_count || nClears != drawn_clears);
}

// The bottom edge stays at -1 and one plot unit is width/2 pixels on both
// axes, so the plot never looks stretched.  A window folded to zero width or
// height would give a degenerate or infinite top: the last projection is
// kept until a real size comes back.
void resizeWindow(int32_t width, int32_t height)
{
	glViewport(0, 0, width, height);
	if (width == 0 || height == 0)
		return;
	glMatrixMode(GL_PROJECTION);
	glLoadIdentity();
	double W = (double)(float)width;
	double H = (double)(float)height;
	gluOrtho2D(-1.0, 1.0, -1.0, 2.0 / (W / H) - 1.0);
}
