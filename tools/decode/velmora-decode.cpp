// velmora-decode: a byte stream as the display program sees it.  The bytes
// run through the program's own framer, decoder, display list and stroker
// (linked, not copied); listing.cpp watches them and writes what happened.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/os.h"
#include "common/platform.h"
#include "display/display_list.h"
#include "stream/encode.h"
#include "stream/framer.h"
#include "tools/decode/listing.h"
#include "tools/toolkit/cli.h"
#include "tools/toolkit/input.h"
#include "tools/toolkit/replay.h"

constexpr size_t read_chunk = 1 << 16;  // bytes read from the input at a time

static const char usage_text[] = "usage: velmora-decode [--records] [FILE]\n"
                                 "\n"
                                 "Decodes a Velmora byte stream (FILE, or standard input when FILE is\n"
                                 "absent or \"-\"; a FILE named *.vel is read as velmora-encode's text\n"
                                 "form) with the display program's own framer and decoder.\n"
                                 "\n"
                                 "Without options, lists every word, one line each:\n"
                                 "  OFFSET  BYTES  WORD  MNEMONIC  OPERANDS  [what it did]\n"
                                 "OFFSET is the decimal byte offset of the word's first byte; the\n"
                                 "mnemonic is OP_SET_X ... OP_CHARACTER, filler (FFFF) or ignored.\n"
                                 "Sync pairs, dropped bytes and a cut-off word or pair at the end get\n"
                                 "lines of their own; a summary line closes the listing.  Where the\n"
                                 "display halts (\"too many commands\"), '#' lines say so after the word\n"
                                 "that did it, and every later byte is listed as never read: any\n"
                                 "listing encodes back to its stream with velmora-encode.\n"
                                 "\n"
                                 "  --records  print the display list after each end-of-frame word and\n"
                                 "             once more at the end of input:\n"
                                 "               frame K records N   (eof records N at the end)\n"
                                 "               i GOTO|DRAW|COLOR p1 p2, or i END_FRAME\n"
                                 "               pen X Y attr A\n"
                                 "             GOTO and DRAW: p1 p2 are x y.  COLOR: the colour's\n"
                                 "             channels as drawn, each 0..255 in 256ths: p1 blue,\n"
                                 "             p2 green * 256 + red; white 255 65535, red 0 255,\n"
                                 "             blue 255 0, black 0 0.\n"
                                 "  -h, --help show this text\n"
                                 "  --version  show the version\n"
                                 "\n"
                                 "Exit status: 0 done; 1 the display list overflowed (\"too many\n"
                                 "commands\", as the display program halts: the records end with the\n"
                                 "program's two lines, the listing goes on to the end); 2 bad usage\n"
                                 "or unreadable input.\n";

static const char *name = "standard input";

static void say_halt()
{
	say_overflow("velmora-decode", name, bytes_read, "the display halts there");
}

int main(int argc, char **argv)
{
	bool sw_records = false;
	const char *path = nullptr;
	const CommandLine command_line = {.tool = "velmora-decode",
	                                  .usage = usage_text,
	                                  .options = {switch_option("--records", &sw_records, true)},
	                                  .sw_input = true};
	if (int status = read_command_line(command_line, argc, argv, &path); status >= 0)
		return status;

	Input in;
	if (!open_input(&in, "velmora-decode", path,
	                {.sw_vel = true, .sw_quote = true, .stdin_name = "standard input"}))
		return 2;
	name = in.name.c_str();

	// The listing has standard output to itself: what the framer prints at a
	// halt is said in the listing's own '#' lines instead.
	FILE *out = stdout;
	if (!sw_records) {
		int fd = os_dup(STDOUT_FILENO);
		out = fd >= 0 ? fdopen(fd, "wb") : nullptr;
		if (!out || !freopen(os_null, "w", stdout)) {
			fprintf(stderr, "velmora-decode: standard output: %s\n", strerror(errno));
			return 2;
		}
	}
	static unsigned char chunk[read_chunk];
	static char out_buffer[1 << 16];
	setvbuf(out, out_buffer, _IOFBF, sizeof out_buffer);

	decode_begin(out, sw_records);
	if (in.sw_vel)
		decode_bytes(in.vel.data(), in.vel.size());
	size_t last_read = 0;  // bytes in chunk from the last read, for the text hint
	while (!in.sw_vel && !(sw_records && decode_halted())) {
		fflush(out);  // the listing so far before any message
		ssize_t n = read_input(&in, chunk, sizeof chunk);
		if (n < 0)
			return 2;
		if (n == 0)
			break;
		decode_bytes(chunk, (size_t)n);
		last_read = (size_t)n;
	}
	decode_end();

	bool sw_written = fflush(out) == 0 && !ferror(out);
	if (!sw_written && !(sw_records && decode_halted())) {
		fprintf(stderr, "velmora-decode: write error: %s\n", strerror(errno));
		return 2;
	}
	if (decode_halted()) {
		say_halt();
		return 1;
	}
	if (!in.sw_vel && state <= state_half_sync && looks_like_text(chunk, last_read))
		fprintf(stderr, "velmora-decode: %s\n", text_hint(name).c_str());
	return 0;
}
