// velmora-serve's live page: tools/serve-page.html with
// tools/page-pixels.js, built in by tools/embed.cmake.  Its /*MAP*/ is
// replaced by the renderer's mapping.
#pragma once

#include <cstddef>

extern const unsigned char serve_page[];
extern const size_t serve_page_size;
