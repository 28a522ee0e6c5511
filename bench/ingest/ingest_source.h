// An in-memory board for the ingest benchmark and the allocation test: the
// device library's queue query and read serve a prepared stream as fast as
// they are asked, so the real drchar, framer, decoder and stroker run at
// full speed with nothing else in the way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Exactly `bytes` bytes (even, at least 2): the sync pair, then frames of a
// clear, mostly set/move/draw words with a few attributes and characters,
// and an end of frame.  No frame comes near the list's capacity, and the
// stream may be played again from the start: its pair is then a filler word.
std::vector<uint8_t> make_ingest_stream(size_t bytes);

// FT_GetQueueStatus/FT_Read serve these bytes from now on.
void board_load(const uint8_t *bytes, size_t size);
size_t board_left();  // bytes not yet read from the queue
