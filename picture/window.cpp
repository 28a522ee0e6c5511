#include "picture/picture.h"

#include <GL/freeglut.h>

#include "picture/presented.h"

// A double-buffered window's front buffer is read as the window system
// has it (picture/presented.h).
bool read_window(int32_t width, int32_t height, std::vector<uint8_t> *rgb)
{
	if (width <= 0 || height <= 0)
		return false;
	GLboolean sw_double = GL_FALSE;
	glGetBooleanv(GL_DOUBLEBUFFER, &sw_double);
	if (sw_double)
		return read_presented(width, height, rgb);

	GLint read_buffer = GL_FRONT;
	glGetIntegerv(GL_READ_BUFFER, &read_buffer);
	glReadBuffer(GL_FRONT);
	bool ok = read_framebuffer(width, height, rgb);
	glReadBuffer((GLenum)read_buffer);
	return ok;
}
