// Where a tool's picture or page goes: a file (written whole through
// common/file.h) or standard output, which then carries that alone.
#pragma once

#include <cstddef>
#include <string>

// Standard output set aside for the tool's output alone: with to_stdout,
// *fd is a descriptor of it (a terminal will not take the `what`); in
// every case standard output then goes to standard error, so that all the
// tool says on the way, the framer's "too many commands" among it, stays
// out of the output.  False with *why when it cannot be.
bool set_aside_stdout(bool to_stdout, const char *what, int *fd, std::string *why);

// size bytes to fd (>= 0: standard output set aside, then closed) or else
// to the file at path.  False with *why: "standard output: ..." or the
// file's "path: ...".
bool write_output(int fd, const char *path, const void *data, size_t size, std::string *why);
