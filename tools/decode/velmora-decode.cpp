// velmora-decode: a byte stream as the display program sees it.  The bytes
// run through the program's own framer, decoder, display list and stroker
// (linked, not copied); decode.cpp watches them and writes what happened.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/platform.h"
#include "display/display_list.h"
#include "stream/encode.h"
#include "stream/framer.h"
#include "tools/toolkit/cli.h"
#include "tools/decode/listing.h"

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

// The display program's halt, for a tool.  The listing goes on to list the
// bytes the display would never read; the records end as the program does,
// with the same line, then exit status 1 instead of waiting for a window to
// be closed.
static const char *name = "standard input";
static uint64_t halt_taken;

static void say_halt()
{
	say_overflow("velmora-decode", name, halt_taken, "the display halts there");
}

void error_exit()
{
	halt_taken = bytes_read;
	decode_halt();
	printf("close window to exit\n");
	fflush(stdout);
	say_halt();
	exit(1);
}

static int bad_usage(const char *what, const char *arg)
{
	fprintf(stderr, "velmora-decode: %s '%s'\nTry 'velmora-decode --help'.\n", what, arg);
	return 2;
}

int main(int argc, char **argv)
{
	bool sw_records = false;
	bool sw_options_done = false;
	const char *path = nullptr;

	for (int i = 1; i < argc; i++) {
		const char *arg = argv[i];
		if (!sw_options_done && arg[0] == '-' && arg[1] != '\0') {
			if (strcmp(arg, "--") == 0) {
				sw_options_done = true;
			} else if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
				return answer("velmora-decode", usage_text);
			} else if (strcmp(arg, "--version") == 0) {
				return answer_version("velmora-decode");
			} else if (strcmp(arg, "--records") == 0) {
				sw_records = true;
			} else {
				return bad_usage("unknown option", arg);
			}
			continue;
		}
		if (path)
			return bad_usage("more than one input; extra", arg);
		path = arg;
	}

	FILE *in = stdin;
	std::vector<uint8_t> vel;
	bool sw_vel = path && strcmp(path, "-") != 0 && vel_name(path);
	if (sw_vel) {
		if (!read_vel("velmora-decode", path, &vel))
			return 2;
		name = path;
	} else if (path && strcmp(path, "-") != 0) {
		in = fopen(path, "rb");
		if (!in) {
			fprintf(stderr, "velmora-decode: cannot open '%s': %s\n", path, strerror(errno));
			return 2;
		}
		name = path;
	}

	// The listing has standard output to itself: what the framer prints at a
	// halt is said in the listing's own '#' lines instead.
	FILE *out = stdout;
	if (!sw_records) {
		int fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
		out = fd >= 0 ? fdopen(fd, "w") : nullptr;
		if (!out || !freopen("/dev/null", "w", stdout)) {
			fprintf(stderr, "velmora-decode: standard output: %s\n", strerror(errno));
			return 2;
		}
	}
	static unsigned char chunk[read_chunk];
	static char out_buffer[1 << 16];
	setvbuf(out, out_buffer, _IOFBF, sizeof out_buffer);

	decode_begin(out, sw_records);
	if (sw_vel)
		decode_bytes(vel.data(), vel.size());
	uint64_t taken = 0;
	size_t last_read = 0;  // bytes in chunk from the last read, for the text hint
	while (!sw_vel) {
		size_t n = fread(chunk, 1, sizeof chunk, in);
		if (n > 0) {
			decode_bytes(chunk, n);
			last_read = n;
		}
		taken += n;
		if (n < sizeof chunk) {
			if (ferror(in)) {
				int err = errno;
				fflush(out);
				fprintf(stderr,
				        "velmora-decode: %s: read error at byte offset %" PRIu64 ": %s\n",
				        name, taken, strerror(err));
				return 2;
			}
			if (feof(in))
				break;
		}
	}
	decode_end();

	if (fflush(out) != 0 || ferror(out)) {
		fprintf(stderr, "velmora-decode: write error: %s\n", strerror(errno));
		return 2;
	}
	if (decode_halted()) {
		say_halt();
		return 1;
	}
	if (!sw_vel && state <= state_half_sync && looks_like_text(chunk, last_read))
		fprintf(stderr, "velmora-decode: %s\n", text_hint(name).c_str());
	return 0;
}
