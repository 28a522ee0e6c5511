// The stream's text form (velmora-encode's input, a .vel file) to its
// bytes: the one parser of it, for the tools and for the virtual board's
// board files alike.  Pure: no I/O, so the tools, the platform layer, the
// tests and the fuzzer call the same function.  Every error of the input is
// collected (up to encode_max_errors) with its line and column; the bytes
// are kept only when there is none.  Not part of the display program's
// stream path: it runs once, before any byte is read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr int encode_max_errors = 20;

struct EncodeMessage {
	int line;    // from 1
	int column;  // from 1, counted in bytes
	bool error;  // else a warning
	std::string text;
};

struct Encoded {
	std::vector<uint8_t> bytes;  // empty when errors > 0
	std::vector<EncodeMessage> messages;
	int errors = 0;
	bool stopped = false;  // encode_max_errors reached before the end of the input
};

Encoded encode_text(std::string_view text);

// The messages as "NAME:LINE:COLUMN: error: TEXT" lines, each ending in a
// newline, and "NAME: stopped after 20 errors" when the parse gave up.
std::string encode_report(const Encoded &e, const std::string &name);

// A file name that says it holds the text form: it ends in ".vel".
bool vel_name(std::string_view path);

// Bytes that look like the text form (or any text) rather than a stream:
// printable ASCII, tabs and line ends only, and so no sync pair.  Looks at
// the first 4096 bytes; nothing is text.
bool looks_like_text(const uint8_t *bytes, size_t n);
// What to do about a file that looks like text: "NAME looks like text, not
// a byte stream: ..." naming .vel and velmora-encode; no line end.
std::string text_hint(const std::string &name);
