#include "picture/picture.h"

#include <GL/gl.h>

#include <cstring>

constexpr int stale_errors_max = 16;  // GL errors left by earlier calls, dropped before the read

bool read_framebuffer(int32_t width, int32_t height, std::vector<uint8_t> *rgb)
{
	if (width <= 0 || height <= 0)
		return false;
	for (int i = 0; i < stale_errors_max && glGetError() != GL_NO_ERROR; i++) {
	}

	GLint alignment = 4;
	glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
	glPixelStorei(GL_PACK_ALIGNMENT, 1);
	const size_t row = (size_t)width * 3;
	rgb->resize(row * (size_t)height);
	glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb->data());
	bool ok = glGetError() == GL_NO_ERROR;
	glPixelStorei(GL_PACK_ALIGNMENT, alignment);

	// The GL gives the bottom row first.
	std::vector<uint8_t> swap(row);
	for (int32_t top = 0, bottom = height - 1; top < bottom; top++, bottom--) {
		uint8_t *a = rgb->data() + row * (size_t)top;
		uint8_t *b = rgb->data() + row * (size_t)bottom;
		memcpy(swap.data(), a, row);
		memcpy(a, b, row);
		memcpy(b, swap.data(), row);
	}
	return ok;
}
