// Writing files whole: for the tools and the program's s key.  No libraries
// beyond the C library.
#pragma once

#include <cstddef>
#include <string>

// All size bytes to fd, retrying short writes; false with errno set.
bool write_all(int fd, const void *data, size_t size);

// Writes size bytes to path through a temporary file beside it, renamed over
// path once complete: on failure no partial file is left and a file already
// at path is untouched.  False with "path: reason" in *why.
bool write_file(const char *path, const void *data, size_t size, std::string *why);
