#include "picture/picture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <png.h>

constexpr int temp_name_tries = 100;  // names tried beside the target before giving up

static bool fail(std::string *why, const std::string &what)
{
	if (why)
		*why = what;
	return false;
}

// No fsync: a failed write or a dying process leaves no partial file, which
// is what a reader of the directory needs; durability across a power cut is
// the file system's affair.
bool write_file(const char *path, const void *data, size_t size, std::string *why)
{
	std::string tmp;
	int fd = -1;
	for (int i = 0; i < temp_name_tries && fd < 0; i++) {
		tmp = std::string(path) + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(i);
		fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
		if (fd < 0 && errno != EEXIST)
			break;
	}
	if (fd < 0)
		return fail(why, std::string(path) + ": " + strerror(errno));

	const char *p = static_cast<const char *>(data);
	size_t left = size;
	int err = 0;
	while (left > 0) {
		ssize_t n = write(fd, p, left);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0) {
			err = n < 0 ? errno : EIO;
			break;
		}
		p += n;
		left -= (size_t)n;
	}
	if (close(fd) != 0 && err == 0)
		err = errno;
	if (err == 0 && rename(tmp.c_str(), path) != 0)
		err = errno;
	if (err != 0) {
		unlink(tmp.c_str());
		return fail(why, std::string(path) + ": " + strerror(err));
	}
	return true;
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
