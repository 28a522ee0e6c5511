// Pictures of the display: PNG files, the display list as SVG, and what a
// live GL window shows.  An image here is 8-bit RGB, 3 bytes a pixel, rows
// from the top: width * height * 3 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/file.h"
#include "display/display_list.h"

// An 8-bit RGB PNG of the image, into *png.  False with the reason in *why.
bool encode_png(int32_t width, int32_t height, const uint8_t *rgb, std::vector<uint8_t> *png,
                std::string *why);
// encode_png, then write_file.
bool write_png(const char *path, int32_t width, int32_t height, const uint8_t *rgb, std::string *why);

// The current display list as a window of width x height pixels shows it
// after a drawing pass: one polyline per line strip in the colour the
// window's 8-bit pixels get, on the white background, clipped to the
// window.  With double buffering the window presents the list up to its
// last end-of-frame record (none: the background alone); with single
// buffering all of it.
std::string display_list_svg(int32_t width, int32_t height, bool sw_double);
// The same of list[0..n-1] (n at most max_commands).
std::string list_svg(const DisplayRecord *list, int32_t n, int32_t width, int32_t height, bool sw_double);

// The current GL read buffer, width x height pixels from the lower-left
// corner, into *rgb as rows from the top.  False if the size is not
// positive or the GL reports an error.
bool read_framebuffer(int32_t width, int32_t height, std::vector<uint8_t> *rgb);

// What the window of the current GL context shows, into *rgb as rows from
// the top.  Call with the window's context current (in a GLUT callback),
// width and height its size (glutGet(GLUT_WINDOW_WIDTH), ...).  Single
// buffering: the front buffer, through the GL.  Double buffering: the
// window's pixels from the X server, as the last swap left them; the
// window must then be wholly on the screen (else false), and parts of it
// covered by other windows may read as those windows.
bool read_window(int32_t width, int32_t height, std::vector<uint8_t> *rgb);
