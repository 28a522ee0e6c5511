// The pages the tools write and serve, built in by tools/pages/embed.cmake:
// tools/pages/inspect.html (velmora-inspect's page; its /*META*/ and
// /*BLOB*/ are replaced by the stream's data) and tools/pages/serve.html
// (velmora-serve's live page; its /*MAP*/ is replaced by the renderer's
// mapping), each with tools/pages/page-pixels.js.
#pragma once

#include <cstddef>

extern const unsigned char inspect_page[];
extern const size_t inspect_page_size;
extern const unsigned char serve_page[];
extern const size_t serve_page_size;
