// velmora-encode's parser over any text.  Beyond not crashing: every message
// points into the input (a line that exists, a column at most one past its
// end), errors are capped, and bytes come only from an input without errors.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "stream/encode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// Exact-size copy: ASan sees any read past the end.
	char *copy = (char *)malloc(size ? size : 1);
	memcpy(copy, data, size);
	std::string_view text(copy, size);
	Encoded r = encode_text(text);

	std::vector<size_t> line_lengths;  // without the newline or a carriage return before it
	for (size_t pos = 0; pos < size;) {
		size_t end = text.find('\n', pos);
		if (end == std::string_view::npos)
			end = size;
		size_t n = end - pos;
		line_lengths.push_back(n > 0 && text[end - 1] == '\r' ? n - 1 : n);
		pos = end + 1;
	}
	int errors = 0;
	for (const EncodeMessage &m : r.messages) {
		errors += m.error;
		if (m.line < 1 || (size_t)m.line > line_lengths.size() || m.column < 1 ||
		    (size_t)m.column > line_lengths[(size_t)m.line - 1] + 1 || m.text.empty())
			abort();
	}
	if (errors != r.errors || r.errors > encode_max_errors || (r.errors > 0 && !r.bytes.empty()) ||
	    (r.stopped && r.errors != encode_max_errors))
		abort();
	free(copy);
	return 0;
}
