/* stream/words.h as a board's firmware uses it, built as strict C99 (and as
 * C++17 through words_cxx17.cpp).  words_test decodes what it puts. */
#include "stream/words.h"

size_t firmware_frame(uint8_t *out);

/* A blue segment from (300, 200) to (310, 220) as a whole picture: 14 bytes. */
size_t firmware_frame(uint8_t *out)
{
	size_t n = vw_put_sync(out);
	n += vw_put(out + n, vw_clear());
	n += vw_put_move_to(out + n, 2, 300, 200);
	n += vw_put_line_to(out + n, 310, 220);
	n += vw_put(out + n, vw_end_frame());
	return n;
}
