// The stream path: bytes -> framer -> decoder -> stroker -> display list,
// one byte per GetInstruction call, with the display list's invariants
// checked after every call and the overflow halt checked where it happens.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display/display_list.h"
#include "fuzz/program_state.h"
#include "stream/decoder.h"
#include "stream/framer.h"
#include "common/platform.h"

constexpr int32_t max_word_records = 18;  // most records one word appends (a character)

static const uint8_t *src = nullptr;
static size_t src_left = 0;
static bool sw_byte_given = false;

// One byte per call, then "nothing waiting": every word ends a call of its
// own, so a clear and the records after it never fall into one check.
uint16_t drchar()
{
	if (sw_byte_given || src_left == 0)
		return NO_BYTE;
	sw_byte_given = true;
	src_left--;
	return *src++;
}

// No timing in a fuzz input: a reading of 0 never starts the silence timer.
int32_t clock_ms()
{
	return 0;
}

#define CHECK(cond)                                                                                          \
	do {                                                                                                 \
		if (!(cond)) {                                                                               \
			fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond);         \
			abort();                                                                             \
		}                                                                                            \
	} while (0)

static const uint16_t palette[4][2] = {
        {0x00FF, 0xFFFF}, {0x0000, 0x00FF}, {0x00FF, 0x0000}, {0x0000, 0x0000}};

static int32_t checked = 0;       // rows 0..checked-1 already checked
static int32_t last_colour = -1;  // palette index of the last CMD_COLOR row checked, -1 none
static int32_t previous_count = 0;
static int32_t count_before = 0;  // nCommands before the latest call; read after a halt

static void check_list()
{
	int32_t n = nCommands;
	CHECK(n >= 0 && n <= max_commands);
	CHECK(state <= state_low);
	CHECK(current_color <= 3);
	CHECK(CharacterAttributes <= VW_ATTRIBUTE_MASK);
	if (n < previous_count) {  // cleared: only the clear ran in this call
		CHECK(n == 0);
		checked = 0;
		last_colour = -1;
	}
	for (int32_t i = checked; i < n; i++) {
		const DisplayRecord &r = command[i];
		switch (r.kind) {
		case CMD_GOTO:
		case CMD_DRAW:
			CHECK(r.p1 <= max_x && r.p2 <= max_y);
			break;
		case CMD_COLOR: {
			int c = 0;
			while (c < 4 && !(palette[c][0] == r.p1 && palette[c][1] == r.p2))
				c++;
			CHECK(c < 4);
			CHECK(c != last_colour);  // only a change of index is recorded
			last_colour = c;
			// Within capacity the move's CMD_GOTO follows in the same word.
			CHECK(i + 1 < n && command[i + 1].kind == CMD_GOTO);
			break;
		}
		case CMD_END_FRAME:
			break;
		default:
			CHECK(!"record of unknown kind");
		}
	}
	if (last_colour >= 0)
		CHECK(current_color == last_colour);
	if (sw_wait != 0)
		CHECK(n > 0 && command[n - 1].kind == CMD_END_FRAME);
	checked = n;
	previous_count = n;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	// The framer's own message on a halt goes to stdout; libFuzzer talks on stderr.
	if (!freopen("/dev/null", "w", stdout))
		abort();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// Every call gets a fresh exact-size copy so any byte read past the end
	// is caught by ASan.
	uint8_t *copy = (uint8_t *)malloc(size ? size : 1);
	memcpy(copy, data, size);
	src = copy;
	src_left = size;

	reset_program();
	checked = 0;
	last_colour = -1;
	previous_count = 0;
	count_before = 0;

	if (setjmp(halt_jump) == 0) {
		while (src_left > 0) {
			count_before = nCommands;
			sw_byte_given = false;
			GetInstruction();
			check_list();
			sw_wait = 0;  // as a drawing pass would
		}
	} else {
		// Halted: only an overflow halts this path, and only right after a
		// word, which can have added no more than one character's records.
		CHECK(nCommands > max_commands);
		CHECK(nCommands <= count_before + max_word_records);
		CHECK(state == state_high);
	}
	free(copy);
	return 0;
}
