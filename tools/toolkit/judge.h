// The judge of a stream's health.  It watches the display program's framer
// byte by byte (sync found, bytes dropped while hunting, a word complete,
// the framing lost to silence, a sync pair sent out of step with the
// words) and judges each word the display took (filler, no meaning, a
// coordinate clamped, a point or pen wrapped below zero).
// velmora-decode's listing, velmora-inspect's page and velmora-serve's live
// counters all judge through it, so they say the same of the same bytes.
#pragma once

#include <cstdint>

struct Health {
	uint64_t words = 0;        // completed, filler included
	uint64_t dropped = 0;      // bytes dropped while hunting for sync
	uint64_t syncs = 0;        // sync pairs that started a framing
	uint64_t sync_lost = 0;    // framings dropped after a silence
	uint64_t filler = 0;       // filler words
	uint64_t ignored = 0;      // words the decoder drops
	uint64_t clamped = 0;      // words with a coordinate above 1023 cut to 1023
	uint64_t wrapped = 0;      // characters with a point or the pen below zero, wrapped to 16 bits
	uint64_t out_of_step = 0;  // words whose low byte FF and the next high byte make a pair
};

struct Judge {
	Health health;
	uint64_t sync_at = 0;     // offset of the FF that began the pair last looked at
	uint64_t word_at = 0;     // offset of the last word's high byte
	uint8_t high = 0;         // that byte
	uint16_t word = 0;        // the last word completed
	uint64_t step_word = 0;   // index of a word ending in FF whose pair is in doubt
	int step = 0;             // bytes of that FF FF seen: 1 or 2; 0 none in doubt
	uint32_t last_state = 0;  // the framer's state when last looked at
};

// What a byte did, the low bits; seen_out_of_step may come with any.
constexpr unsigned seen_nothing = 0;       // the first FF of a pair, or a word's high byte
constexpr unsigned seen_sync = 1;          // a pair at sync_at: the framing starts
constexpr unsigned seen_dropped = 2;       // the byte was dropped
constexpr unsigned seen_dropped_pair = 3;  // the FF at sync_at and the byte were dropped
constexpr unsigned seen_word = 4;          // word completed, its high byte at word_at
constexpr unsigned seen_kind = 7;
constexpr unsigned seen_out_of_step = 8;  // word step_word turned out to be out of step

// Byte c at offset, taken by the framer, whose state was before and then
// after (the latter is read only when before is hunting or half-sync).
unsigned judge_byte(Judge &j, uint64_t offset, uint8_t c, uint32_t before, uint32_t after);

// No byte, the framer's state now: a framing dropped by silence is counted.
void judge_idle(Judge &j, uint32_t now);

// The end of the input: true when word step_word, ending in FF with an FF
// after it, was the last but one byte: out of step.
bool judge_end(Judge &j);

// What word w, just taken by the display program, says: the pen at (x0, y0)
// and the attributes attr before it, at (gx1, gy1) after.  A character's
// points are worked out again with the stroker's own getxy, which moves its
// cptr.
constexpr unsigned word_filler = 1;
constexpr unsigned word_ignored = 2;  // an opcode the decoder has no case for
constexpr unsigned word_clamped = 4;  // a coordinate stored above 1023, cut to 1023
constexpr unsigned word_wrapped = 8;  // a character's point or the pen ran below zero
unsigned judge_word(Judge &j, uint16_t w, uint16_t x0, uint16_t y0, uint16_t attr);
