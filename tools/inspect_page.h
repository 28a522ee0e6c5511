// The page velmora-inspect writes: tools/inspect-page.html with
// tools/page-pixels.js, built in by tools/embed.cmake.  Its /*META*/ and
// /*BLOB*/ are replaced by the stream's data.
#pragma once

#include <cstddef>

extern const unsigned char inspect_page[];
extern const size_t inspect_page_size;
