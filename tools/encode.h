// velmora-encode's core: the text form of a stream to its bytes.  Pure: no
// I/O, so the tool, the tests and the fuzzer call the same function.  Every
// error of the input is collected (up to encode_max_errors) with its line and
// column; the bytes are kept only when there is none.
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
