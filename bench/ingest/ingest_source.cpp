#include "bench/ingest/ingest_source.h"

#include <cstring>

#include "d2xx/ftd2xx.h"

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

// Deterministic, so every run measures the same stream.
static uint32_t next(uint32_t &seed)
{
	seed = seed * 1664525u + 1013904223u;
	return seed >> 8;
}

static void put(std::vector<uint8_t> &s, uint16_t w)
{
	s.push_back((uint8_t)(w >> 8));
	s.push_back((uint8_t)(w & 0xFF));
}

// One piece of a picture, as a board draws: a segment to any point (set one
// axis, draw the other), a horizontal or vertical segment (one draw word), a
// move to any point in some colour, or a short run of text.  Returns the
// most records it can append.
static int32_t phrase(std::vector<uint8_t> &s, uint32_t &seed)
{
	uint32_t r = next(seed);
	uint16_t axis = (uint16_t)((r & 1) << 10);
	uint16_t other = (uint16_t)(axis ^ 0x0400);
	uint16_t a = (uint16_t)(next(seed) & 0x3FF);
	uint16_t b = (uint16_t)(next(seed) & 0x3FF);
	uint32_t kind = (r >> 1) % 32;
	if (kind < 16) {
		put(s, (uint16_t)(0x0000 | axis | a));
		put(s, (uint16_t)(0x4000 | other | b));
		return 1;
	}
	if (kind < 23) {
		put(s, (uint16_t)(0x4000 | axis | a));
		return 1;
	}
	if (kind < 30) {
		uint16_t colour = (uint16_t)(((r >> 6) & 3) << 11);
		put(s, (uint16_t)(0x0000 | axis | a));
		put(s, (uint16_t)(0x2000 | colour | other | b));
		return 2;
	}
	if (kind == 31)
		put(s, (uint16_t)(0x8300 | ((r >> 6) & 0x7F)));
	uint32_t n = 1 + (r >> 13) % max_text_run;
	for (uint32_t i = 0; i < n; i++)
		put(s, (uint16_t)(0x8420 + next(seed) % 95));
	return (int32_t)n * max_character_records;
}

std::vector<uint8_t> make_ingest_stream(size_t bytes)
{
	std::vector<uint8_t> s;
	s.reserve(bytes + 64);
	s.push_back(0xFF);
	s.push_back(0xFF);
	uint32_t seed = 1;
	while (s.size() < bytes) {
		size_t frame_start = s.size();
		int32_t records = 1;  // the end of frame
		put(s, 0x8100);       // clear
		while (s.size() - frame_start < 2 * frame_words && records <= max_frame_records)
			records += phrase(s, seed);
		put(s, 0x8200);  // end of frame
	}
	// The last frame is cut short; replayed, the stream's pair is a filler
	// word and its first word a clear, so nothing piles up.
	s.resize(bytes);
	return s;
}
