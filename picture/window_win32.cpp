// What a double-buffered window shows, on Windows.  Its front buffer
// cannot be relied on through the GL: Mesa's software rasteriser, under
// Wine as under X, keeps none of its own and reads black, and the GL leaves
// front-buffer reads of a double-buffered window to the driver.  So the
// back buffer is kept at each swap, just before it is presented: one read
// of the window's pixels a frame shown.
#include "picture/presented.h"

#include <GL/freeglut.h>

#include <algorithm>

#include "picture/picture.h"

static std::vector<uint8_t> kept;  // the last frame presented, rows from the top
static int32_t kept_width = 0, kept_height = 0;

void before_swap()
{
	GLint viewport[4] = {0, 0, 0, 0}, read_buffer = GL_BACK;
	glGetIntegerv(GL_VIEWPORT, viewport);
	glGetIntegerv(GL_READ_BUFFER, &read_buffer);
	glReadBuffer(GL_BACK);
	kept_width = kept_height = 0;
	if (read_framebuffer(viewport[2], viewport[3], &kept)) {
		kept_width = viewport[2];
		kept_height = viewport[3];
	}
	glReadBuffer((GLenum)read_buffer);
}

// The kept frame where it reaches, white beyond, as a resize since the
// swap shows it (north-west gravity, the window's white background).
bool read_presented(int32_t width, int32_t height, std::vector<uint8_t> *rgb)
{
	if (kept_width == 0)
		return false;
	rgb->assign((size_t)width * (size_t)height * 3, 255);
	int32_t w = width < kept_width ? width : kept_width, h = height < kept_height ? height : kept_height;
	for (int32_t y = 0; y < h; y++)
		std::copy_n(&kept[(size_t)y * (size_t)kept_width * 3], (size_t)w * 3,
		            &(*rgb)[(size_t)y * (size_t)width * 3]);
	return true;
}
