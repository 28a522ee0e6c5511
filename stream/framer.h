// The stream framer: the event loop's idle callback.  Frames the board's
// bytes into words behind a pair of 0xFF bytes, decodes each at once,
// pauses at the end of a frame until it has been drawn, and forgets the
// framing after three seconds of silence.  It reads bytes through drchar
// and the clock through clock_ms (common/platform.h).
#pragma once

#include <cstdint>

constexpr uint32_t state_hunting = 0;    // not synchronised: looking for 0xFF 0xFF
constexpr uint32_t state_half_sync = 1;  // first 0xFF of the pair seen
constexpr uint32_t state_high = 2;       // at a word boundary: high byte next
constexpr uint32_t state_low = 3;        // low byte next

extern uint32_t state;        // framer state, 0..3
extern uint16_t instruction;  // the word being assembled
extern int32_t start_time;    // clock (ms) when the current silence was first seen; 0 = timer stopped
extern int32_t myTime;        // latest clock reading (ms)
// 1 when the last call returned because its time was up, with bytes perhaps
// still waiting: the caller should come back at once, not sleep.
extern int32_t sw_time_up;
extern uint64_t words_taken;  // words completed since start, filler included

// Reads until no byte is waiting, a frame ends, or idle_budget_ms have
// gone by, so that the window never waits long for its events.
void GetInstruction();

// After the halt for too many commands, where the list overflowed, as
// every program says it on stderr:
//   PROGRAM: [NAME: ]the display list overflowed at the word at byte offset
//   N (R records, more than 50000): THEN
// N counts from 0 over every byte of the stream, sync pairs and dropped
// bytes included: the first byte of the word after which the list held
// more than max_commands records.  taken is the number of bytes the framer
// has taken, that word's last byte included.
void say_overflow(const char *program, const char *name, uint64_t taken, const char *then);
// N above, from taken.
uint64_t overflow_at(uint64_t taken);
