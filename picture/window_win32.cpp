// What a double-buffered window shows, on Windows: its front buffer, which
// the last swap presented, read through the GL.
#include "picture/presented.h"

#include <windows.h>

#include <GL/gl.h>

#include "picture/picture.h"

bool read_presented(int32_t width, int32_t height, std::vector<uint8_t> *rgb)
{
	GLint read_buffer = GL_BACK;
	glGetIntegerv(GL_READ_BUFFER, &read_buffer);
	glReadBuffer(GL_FRONT);
	bool ok = read_framebuffer(width, height, rgb);
	glReadBuffer((GLenum)read_buffer);
	return ok;
}
