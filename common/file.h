// Writing files whole: for the tools and the program's s key.  No libraries
// beyond the C library.
#pragma once

#include <cstddef>
#include <string>

// All size bytes to fd, retrying short writes; false with errno set.
bool write_all(int fd, const void *data, size_t size);

// Writes size bytes to path and keeps what stands there.  Symbolic links
// are followed: their target is written, the link stays.
//  - Nothing there yet: a new file, written under a temporary name beside
//    it and renamed when complete, so a failure leaves no partial file.
//  - A regular file: replaced the same way, with its mode and owner.  When
//    a new file cannot be what it is (it has other hard links, its owner
//    cannot be given away, or its folder takes no temporary file) it is
//    written in place instead, after room for the bytes is reserved: every
//    hard link then sees the new bytes.
//  - Anything else (a device, a FIFO, a terminal): written straight
//    through, never replaced.  A directory is an error.
// False with "path: reason" in *why.
bool write_file(const char *path, const void *data, size_t size, std::string *why);
