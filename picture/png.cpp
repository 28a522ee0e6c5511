#include "picture/picture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <png.h>

static bool fail(std::string *why, const std::string &what)
{
	if (why)
		*why = what;
	return false;
}

bool encode_png(int32_t width, int32_t height, const uint8_t *rgb, std::vector<uint8_t> *png,
                std::string *why)
{
	if (width <= 0 || height <= 0)
		return fail(why, "empty image");
	png_image image;
	memset(&image, 0, sizeof image);
	image.version = PNG_IMAGE_VERSION;
	image.width = (png_uint_32)width;
	image.height = (png_uint_32)height;
	image.format = PNG_FORMAT_RGB;

	// The bound holds any encoding of the image, so one pass does.
	png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
	png->resize(size);
	if (!png_image_write_to_memory(&image, png->data(), &size, 0, rgb, 0, nullptr)) {
		std::string what = image.message;
		png_image_free(&image);
		png->clear();
		return fail(why, "PNG encoding: " + what);
	}
	png->resize(size);
	return true;
}

bool write_png(const char *path, int32_t width, int32_t height, const uint8_t *rgb, std::string *why)
{
	std::vector<uint8_t> png;
	return encode_png(width, height, rgb, &png, why) && write_file(path, png.data(), png.size(), why);
}
