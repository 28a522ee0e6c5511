#include "stream/framer.h"

#include <cinttypes>
#include <cstdio>

#include "common/config.h"
#include "common/platform.h"
#include "display/display_list.h"
#include "stream/decoder.h"

uint32_t state = state_hunting;
uint16_t instruction = 0;
int32_t start_time = 0;
int32_t myTime = 0;
int32_t sw_time_up = 0;
uint64_t words_taken = 0;

// The first empty read after a byte starts the timer; an empty read 3000 ms
// or more later drops the framing, wherever the framer stood.
static void silence()
{
	myTime = clock_ms();
	if (start_time == 0) {
		start_time = myTime;
		return;
	}
	// Unsigned subtraction, then back to signed: right across the wrap of
	// the 32-bit count, where the signed difference would overflow.
	int32_t elapsed = (int32_t)((uint32_t)myTime - (uint32_t)start_time);
	if (elapsed / 1000 > silence_seconds) {
		start_time = 0;
		state = state_hunting;
	}
}

static void word_done()
{
	words_taken++;
	if (instruction != VW_FILLER)
		Parse(instruction);
	if (nCommands > max_commands) {
		printf("too many commands\n");
		error_exit();
	}
}

// A stream that never pauses would otherwise hold the one thread for as
// long as it lasts.  Running out of time is not silence: the state, the
// word in hand and the silence timer stay as they are.
static bool time_up(int32_t since)
{
	return (int32_t)((uint32_t)clock_ms() - (uint32_t)since) >= idle_budget_ms;
}

void GetInstruction()
{
	sw_time_up = 0;
	if (sw_wait != 0)
		return;
	int32_t started = clock_ms();
	uint32_t until_check = budget_check_bytes;
	for (;;) {
		uint16_t c = drchar();
		if (c > 255) {
			silence();
			return;
		}
		start_time = 0;
		switch (state) {
		case state_hunting:
			if (c == 0xFF)
				state = state_half_sync;
			break;
		case state_half_sync:
			state = c == 0xFF ? state_high : state_hunting;
			break;
		case state_high:
			instruction = (uint16_t)(c << 8);
			state = state_low;
			break;
		case state_low:
			state = state_high;
			instruction |= c;
			word_done();
			break;
		default:
			printf("state machine error\n");
			error_exit();
		}
		if (sw_wait != 0)
			return;
		if (--until_check == 0) {
			if (time_up(started)) {
				sw_time_up = 1;
				return;
			}
			until_check = budget_check_bytes;
		}
	}
}

// A halt comes only after a word's low byte, its high byte just before.
uint64_t overflow_at(uint64_t taken)
{
	return taken >= 2 ? taken - 2 : 0;
}

void say_overflow(const char *program, const char *name, uint64_t taken, const char *then)
{
	uint64_t word_at = overflow_at(taken);
	fprintf(stderr,
	        "%s: %s%sthe display list overflowed at the word at byte offset %" PRIu64
	        " (%d records, more than %d): %s\n",
	        program, name ? name : "", name ? ": " : "", word_at, (int)nCommands, (int)max_commands,
	        then);
}
