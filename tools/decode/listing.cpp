#include "tools/decode/listing.h"

#include <cinttypes>
#include <cstdarg>
#include <cstring>

#include "display/display_list.h"
#include "stream/decoder.h"
#include "stream/framer.h"
#include "tools/toolkit/halt.h"
#include "tools/toolkit/judge.h"
#include "tools/toolkit/replay.h"

constexpr size_t max_dropped_shown = 16;  // dropped bytes gathered on one listing line
constexpr size_t max_unread_shown = 16;   // bytes after a halt on one listing line

static const char *const colour_names[4] = {"white", "red", "blue", "black"};

static FILE *out = nullptr;
static bool sw_records = false;

static uint64_t frames = 0;  // end-of-frame words so far
static Judge judge;          // words, sync and dropped bytes
static bool sw_halted = false;
static uint64_t unread = 0;  // bytes after the halt

// Listing: the run of dropped bytes not yet printed.
static uint64_t run_at = 0;
static unsigned char run[max_dropped_shown];
static size_t run_len = 0;

// One listing line: offset, bytes, word, mnemonic, operands.  Trailing
// blanks are cut so empty columns leave nothing behind.
static void line(uint64_t offset, const char *bytes, const char *word, const char *mnemonic,
                 const char *fmt = "", ...)
{
	char operands[160];
	va_list ap;
	va_start(ap, fmt);
	vsnprintf(operands, sizeof operands, fmt, ap);
	va_end(ap);

	char text[256];
	int n = snprintf(text, sizeof text, "%10" PRIu64 "  %-5s  %-4s  %-14s %s", offset, bytes, word,
	                 mnemonic, operands);
	if (n < 0)
		return;
	size_t len = strnlen(text, sizeof text);
	while (len > 0 && text[len - 1] == ' ')
		len--;
	fprintf(out, "%.*s\n", (int)len, text);
}

// "12 FF 34": n <= 16 bytes in hex, into hex[48].
static void hex_bytes(const unsigned char *b, int n, char *hex)
{
	static const char digits[] = "0123456789ABCDEF";
	char *p = hex;
	for (int i = 0; i < n; i++) {
		if (i > 0)
			*p++ = ' ';
		*p++ = digits[b[i] >> 4];
		*p++ = digits[b[i] & 0xF];
	}
	*p = '\0';
}

// Empties the run first: the caller may append to it at once.
static void flush_dropped()
{
	int n = (int)run_len;
	run_len = 0;
	if (n == 0)
		return;
	char hex[3 * max_dropped_shown];
	hex_bytes(run, n, hex);
	if (sw_halted)  // in the encoder's words: raw bytes
		line(run_at, "", "", "bytes", "%s  # never read: the display halted", hex);
	else
		line(run_at, "", "", "dropped", "%d byte%s: %s", n, n == 1 ? "" : "s", hex);
}

static void drop(uint64_t offset, unsigned char c)
{
	if (run_len > 0 && (run_len == max_dropped_shown || run_at + run_len != offset))
		flush_dropped();
	if (run_len == 0)
		run_at = offset;
	run[run_len++] = c;
}

// Mnemonic and operands of a word, from its bits alone; what it did comes
// from the display list and registers afterwards.
static void describe(uint16_t word, const char **mnemonic, char *operands, size_t size)
{
	operands[0] = '\0';
	if (word == VW_FILLER) {
		*mnemonic = "filler";
		return;
	}
	if ((word & VW_CONTROL_BIT) == 0) {
		unsigned value = word & VW_VALUE_MASK;
		unsigned colour = (word & VW_COLOUR_MASK) >> VW_COLOUR_SHIFT;
		switch (word & VW_GRAPHICS_OPCODE_MASK) {
		case OP_SET_X:
			*mnemonic = "OP_SET_X";
			snprintf(operands, size, "x %u", value);
			break;
		case OP_SET_Y:
			*mnemonic = "OP_SET_Y";
			snprintf(operands, size, "y %u", value);
			break;
		case OP_MOVE_X:
			*mnemonic = "OP_MOVE_X";
			snprintf(operands, size, "x %u colour %u (%s)", value, colour, colour_names[colour]);
			break;
		case OP_MOVE_Y:
			*mnemonic = "OP_MOVE_Y";
			snprintf(operands, size, "y %u colour %u (%s)", value, colour, colour_names[colour]);
			break;
		case OP_DRAW_X:
			*mnemonic = "OP_DRAW_X";
			snprintf(operands, size, "x %u", value);
			break;
		case OP_DRAW_Y:
			*mnemonic = "OP_DRAW_Y";
			snprintf(operands, size, "y %u", value);
			break;
		default:
			*mnemonic = "ignored";
			snprintf(operands, size, "graphics opcode 0x%04X",
			         (unsigned)(word & VW_GRAPHICS_OPCODE_MASK));
			break;
		}
		return;
	}
	unsigned operand = word & 0xFF;
	switch (word & VW_CONTROL_OPCODE_MASK) {
	case OP_CLEAR:
		*mnemonic = "OP_CLEAR";
		break;
	case OP_END_FRAME:
		*mnemonic = "OP_END_FRAME";
		break;
	case OP_ATTRIBUTES: {
		unsigned attr = word & VW_ATTRIBUTE_MASK;
		*mnemonic = "OP_ATTRIBUTES";
		snprintf(operands, size, "attr 0x%02X size %u colour %u (%s) rotation %u", attr, attr & 7,
		         (attr >> 3) & 3, colour_names[(attr >> 3) & 3], (attr >> 5) & 3);
		break;
	}
	case OP_CHARACTER:
		*mnemonic = "OP_CHARACTER";
		if (operand >= 0x20 && operand < 0x7F)
			snprintf(operands, size, "char 0x%02X '%c'", operand, (char)operand);
		else if (operand == 0x7F)
			snprintf(operands, size, "char 0x7F DEL");
		else
			snprintf(operands, size, "char 0x%02X (drawn as DEL)", operand);
		break;
	default:
		*mnemonic = "ignored";
		snprintf(operands, size, "control opcode 0x%04X", (unsigned)(word & VW_CONTROL_OPCODE_MASK));
		break;
	}
}

static void list_word(uint16_t word, int32_t records_before)
{
	const char *mnemonic = "";
	char operands[96];
	describe(word, &mnemonic, operands, sizeof operands);

	// What the word did, as the display list and registers show it.
	char effect[96] = "";
	int used = 0;
	if (nCommands != records_before)
		used += snprintf(effect + used, sizeof effect - (size_t)used, "records %d", (int)nCommands);
	if ((word & (VW_CONTROL_BIT | VW_CONTROL_OPCODE_MASK)) == (VW_CONTROL_BIT | OP_CHARACTER))
		used += snprintf(effect + used, sizeof effect - (size_t)used, "%spen %u %u", used ? ", " : "",
		                 (unsigned)gx1, (unsigned)gy1);
	if (sw_wait != 0)
		snprintf(effect + used, sizeof effect - (size_t)used, "%sframe %" PRIu64, used ? ", " : "",
		         frames);

	char bytes[8];
	char hex[8];
	snprintf(bytes, sizeof bytes, "%02X %02X", word >> 8, word & 0xFF);
	snprintf(hex, sizeof hex, "%04X", (unsigned)word);
	const char *sep = operands[0] && effect[0] ? "  " : "";
	if (effect[0])
		line(judge.word_at, bytes, hex, mnemonic, "%s%s[%s]", operands, sep, effect);
	else
		line(judge.word_at, bytes, hex, mnemonic, "%s", operands);
}

static void print_records(const char *label)
{
	if (label)
		fprintf(out, "%s %" PRIu64 " records %d\n", label, frames, (int)nCommands);
	else
		fprintf(out, "eof records %d\n", (int)nCommands);
	int32_t n = nCommands < max_commands ? nCommands : max_commands;
	for (int32_t i = 0; i < n; i++) {
		const DisplayRecord &r = command[i];
		switch (r.kind) {
		case CMD_GOTO:
			fprintf(out, "%d GOTO %u %u\n", (int)i, (unsigned)r.p1, (unsigned)r.p2);
			break;
		case CMD_DRAW:
			fprintf(out, "%d DRAW %u %u\n", (int)i, (unsigned)r.p1, (unsigned)r.p2);
			break;
		case CMD_COLOR:
			fprintf(out, "%d COLOR %u %u\n", (int)i, (unsigned)r.p1, (unsigned)r.p2);
			break;
		case CMD_END_FRAME:
			fprintf(out, "%d END_FRAME\n", (int)i);
			break;
		default:  // never written by the display list; shown rather than hidden
			fprintf(out, "%d KIND_%u %u %u\n", (int)i, (unsigned)r.kind, (unsigned)r.p1,
			        (unsigned)r.p2);
			break;
		}
	}
	fprintf(out, "pen %u %u attr %u\n", (unsigned)gx1, (unsigned)gy1, (unsigned)CharacterAttributes);
}

// A renderer's pass would clear sw_wait on reaching the end-of-frame record.
static void frame_done()
{
	frames++;
	if (sw_records)
		print_records("frame");
}

// Records: the framer takes the bytes in one go, stopping at each end of
// frame.  After a halt it takes none.
static void feed_records(const unsigned char *bytes, size_t n)
{
	if (sw_halted)
		return;
	source_give(bytes, n);
	for (;;) {
		try {
			GetInstruction();
		} catch (const Halt &) {
			sw_halted = true;
			return;
		}
		if (sw_wait == 0)
			return;  // every byte taken
		frame_done();
		sw_wait = 0;
	}
}

// After a halt the display reads nothing more; the bytes are listed as
// they are, in runs as the dropped ones are.
static void feed_unread(unsigned char c)
{
	uint64_t offset = bytes_read + unread++;
	if (run_len == max_unread_shown)
		flush_dropped();
	if (run_len == 0)
		run_at = offset;
	run[run_len++] = c;
}

// Listing: one byte per call, so each step of the framer shows in its state.
static void feed_listing(unsigned char c)
{
	if (sw_halted) {
		feed_unread(c);
		return;
	}
	uint64_t offset = bytes_read;
	uint32_t before = state;
	int32_t records_before = nCommands;

	source_give(&c, 1);
	try {
		GetInstruction();
	} catch (const Halt &) {
		sw_halted = true;  // only a completed word halts: seen_word below
	}

	switch (judge_byte(judge, offset, c, before, state) & seen_kind) {
	case seen_sync:
		flush_dropped();
		line(judge.sync_at, "FF FF", "", "sync");
		break;
	case seen_dropped:
		drop(offset, c);
		break;
	case seen_dropped_pair:
		drop(judge.sync_at, 0xFF);
		drop(offset, c);
		break;
	case seen_word:
		flush_dropped();
		if (sw_wait != 0)
			frames++;
		list_word(judge.word, records_before);
		sw_wait = 0;
		break;
	default:
		break;
	}
	if (sw_halted)
		fprintf(out,
		        "# %s\n# close window to exit\n"
		        "# The display halts here: it reads no byte after the word above.\n",
		        nCommands > max_commands ? "too many commands" : "state machine error");
}

bool decode_halted()
{
	return sw_halted;
}

void decode_begin(FILE *to, bool sw_records_wanted)
{
	out = to;
	sw_records = sw_records_wanted;
	bytes_read = 0;
	frames = unread = 0;
	judge = Judge{};
	sw_halted = false;
	run_len = 0;
	source_give(nullptr, 0);
}

void decode_bytes(const unsigned char *bytes, size_t n)
{
	if (sw_records) {
		feed_records(bytes, n);
		return;
	}
	for (size_t i = 0; i < n; i++)
		feed_listing(bytes[i]);
}

void decode_end()
{
	if (sw_records) {
		if (sw_halted)  // the display program's second line, and nothing more
			fprintf(out, "close window to exit\n");
		else
			print_records(nullptr);
		return;
	}
	flush_dropped();
	char hex[4];
	if (state == state_half_sync) {
		line(judge.sync_at, "FF", "", "incomplete", "sync pair cut off by the end of input");
	} else if (state == state_low) {
		snprintf(hex, sizeof hex, "%02X", judge.high);
		line(judge.word_at, hex, "", "incomplete", "word cut off by the end of input");
	}
	fprintf(out,
	        "end of input at byte %" PRIu64 ": words %" PRIu64 ", frames %" PRIu64
	        ", dropped bytes %" PRIu64 ", records %d",
	        bytes_read + unread, judge.health.words, frames, judge.health.dropped, (int)nCommands);
	if (sw_halted)
		fprintf(out, "; halted at the word at byte %" PRIu64 ", unread bytes %" PRIu64,
		        bytes_read - 2, unread);
	fprintf(out, "\n");
}
