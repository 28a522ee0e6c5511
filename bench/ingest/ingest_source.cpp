#include "bench/ingest/ingest_source.h"

#include <cstring>

#include "d2xx/ftd2xx.h"
#include "stream/words.h"

constexpr size_t frame_words = 8192;          // words per frame, about
constexpr int32_t max_frame_records = 40000;  // records a frame may reach, at the most
constexpr uint32_t max_text_run = 8;          // characters in one run of text
constexpr int32_t max_character_records = 18;

static const uint8_t *board_ptr = nullptr;
static size_t board_size = 0;

void board_load(const uint8_t *bytes, size_t size)
{
	board_ptr = bytes;
	board_size = size;
}

size_t board_left()
{
	return board_size;
}

FT_STATUS FT_GetQueueStatus(FT_HANDLE, uint32_t *dwRxBytes)
{
	*dwRxBytes = board_size > UINT32_MAX ? UINT32_MAX : (uint32_t)board_size;
	return FT_OK;
}

FT_STATUS FT_Read(FT_HANDLE, void *lpBuffer, uint32_t dwBytesToRead, uint32_t *lpBytesReturned)
{
	size_t n = dwBytesToRead < board_size ? dwBytesToRead : board_size;
	memcpy(lpBuffer, board_ptr, n);
	board_ptr += n;
	board_size -= n;
	*lpBytesReturned = (uint32_t)n;
	return FT_OK;
}

// The board in memory is read from no file.
bool d2xx_reads_from(FT_HANDLE, const char *)
{
	return false;
}

// Deterministic, so every run measures the same stream.
static uint32_t next(uint32_t &seed)
{
	seed = seed * 1664525u + 1013904223u;
	return seed >> 8;
}

// push_back, not a range insert: GCC 12 warns falsely of an overflow there.
static void append(std::vector<uint8_t> &s, const uint8_t *bytes, size_t n)
{
	for (size_t i = 0; i < n; i++)
		s.push_back(bytes[i]);
}

static void put(std::vector<uint8_t> &s, uint16_t w)
{
	uint8_t b[2];
	append(s, b, vw_put(b, w));
}

// One piece of a picture, as a board draws: a segment to any point (set one
// axis, draw the other), a horizontal or vertical segment (one draw word), a
// move to any point in some colour, or a short run of text.  Returns the
// most records it can append.
static int32_t phrase(std::vector<uint8_t> &s, uint32_t &seed)
{
	uint32_t r = next(seed);
	bool x_first = (r & 1) == 0;
	uint32_t a = next(seed);  // coordinates: the words keep the low 10 bits
	uint32_t b = next(seed);
	uint32_t kind = (r >> 1) % 32;
	if (kind < 16) {
		put(s, x_first ? vw_set_x(a) : vw_set_y(a));
		put(s, x_first ? vw_draw_y(b) : vw_draw_x(b));
		return 1;
	}
	if (kind < 23) {
		put(s, x_first ? vw_draw_x(a) : vw_draw_y(a));
		return 1;
	}
	if (kind < 30) {
		unsigned colour = (r >> 6) & 3;
		put(s, x_first ? vw_set_x(a) : vw_set_y(a));
		put(s, x_first ? vw_move_y(colour, b) : vw_move_x(colour, b));
		return 2;
	}
	if (kind == 31)
		put(s, vw_attributes(r >> 6));  // any size, colour and rotation
	uint32_t n = 1 + (r >> 13) % max_text_run;
	for (uint32_t i = 0; i < n; i++)
		put(s, vw_character(' ' + next(seed) % 95));  // printable ASCII
	return (int32_t)n * max_character_records;
}

std::vector<uint8_t> make_ingest_stream(size_t bytes)
{
	std::vector<uint8_t> s;
	s.reserve(bytes + 64);
	uint8_t sync[2];
	append(s, sync, vw_put_sync(sync));
	uint32_t seed = 1;
	while (s.size() < bytes) {
		size_t frame_start = s.size();
		int32_t records = 1;  // the end of frame
		put(s, vw_clear());
		while (s.size() - frame_start < 2 * frame_words && records <= max_frame_records)
			records += phrase(s, seed);
		put(s, vw_end_frame());
	}
	// The last frame is cut short; replayed, the stream's pair is a filler
	// word and its first word a clear, so nothing piles up.
	s.resize(bytes);
	return s;
}
