// velmora-encode: a stream written as text, one instruction a line, to its
// bytes.  stream/encode.cpp parses; this reads the input, reports, and writes the
// bytes only when the whole input is good.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/file.h"
#include "stream/encode.h"
#include "tools/toolkit/cli.h"
#include "tools/toolkit/input.h"

static const char usage_text[] =
        "usage: velmora-encode [-o FILE] [INPUT]\n"
        "\n"
        "Encodes a Velmora stream written as text (INPUT, or standard input when\n"
        "INPUT is absent or \"-\") and writes its bytes to standard output or FILE.\n"
        "Nothing is written unless the whole input is good.\n"
        "\n"
        "One statement a line; '#' starts a comment (outside quotes); blank lines\n"
        "are skipped.  Numbers are decimal or 0x hex; coordinates 0..1023; a colour\n"
        "is white, red, blue, black or 0..3.\n"
        "  sync                   the sync pair FF FF\n"
        "  filler                 the filler word FFFF\n"
        "  word 0x8441            any word\n"
        "  bytes FF 12            bytes as they are, in hex: damage such as a lone FF\n"
        "                         or half a word\n"
        "  OP_SET_X 100           or OP_SET_X x 100; likewise OP_SET_Y, OP_DRAW_X and\n"
        "                         OP_DRAW_Y (y for the _Y ones)\n"
        "  OP_MOVE_Y 200 blue     or OP_MOVE_Y y 200 colour 2 (blue); likewise\n"
        "                         OP_MOVE_X; the colour is required\n"
        "  OP_CLEAR, OP_END_FRAME\n"
        "  OP_ATTRIBUTES size 2 colour red rotation 1\n"
        "                         size 0..7, rotation 0..3, omitted fields 0; or\n"
        "                         attr 0x0A, alone or with fields that agree\n"
        "  OP_CHARACTER 'A'       or OP_CHARACTER 0x41, or OP_CHARACTER char 0x41 'A'\n"
        "  \"Hello\\n\"              one OP_CHARACTER a byte; escapes \\n \\t \\\\ \\\" \\'\n"
        "                         \\xHH \\ooo \\0 \\a \\b \\f \\r \\v \\?\n"
        "  moveto X Y [COLOUR]    set y, then move x in COLOUR (default red)\n"
        "  lineto X Y             set y, then draw x\n"
        "Mnemonics are written only as above: upper case, no short forms.\n"
        "\n"
        "velmora-decode's listing is valid input and encodes back to the same bytes:\n"
        "its offset, bytes and word columns may start a line; its sync, dropped,\n"
        "incomplete, ignored and filler lines, [what a word did], the bytes after\n"
        "a halt and the closing \"end of input\" line are accepted.  The mnemonic and operands decide a\n"
        "word (edit them, not the columns); the columns give only the bits the\n"
        "listing does not show (a set or draw's colour bits, attribute bit 7, the\n"
        "low byte of OP_CLEAR, OP_END_FRAME and ignored control words, the rest of\n"
        "an ignored graphics word) and an incomplete word's byte.  The offset is\n"
        "not checked.\n"
        "\n"
        "  -o, --output FILE  write to FILE; \"-\" is standard output.  A regular\n"
        "                     file is written beside it under a temporary name and\n"
        "                     renamed over it when complete, keeping its mode and\n"
        "                     owner; one with other hard links is written in place,\n"
        "                     so every link sees the new bytes.  A device, FIFO or\n"
        "                     terminal is written straight through, never replaced;\n"
        "                     a symbolic link's target is written, the link stays.\n"
        "  -h, --help         show this text\n"
        "  --version          show the version\n"
        "\n"
        "Errors read FILE:LINE:COLUMN: error: ..., columns counted in bytes from 1;\n"
        "every error is reported, up to 20.  Drawing words before the first sync\n"
        "get a warning: the display drops them.\n"
        "\n"
        "Exit status: 0 written; 2 errors in the input, bad usage, unreadable input\n"
        "or unwritable output.\n";

int main(int argc, char **argv)
{
	const char *input = nullptr;
	const char *output = nullptr;
	const CommandLine command_line = {
	        .tool = "velmora-encode",
	        .usage = usage_text,
	        .options = {value_option("-o", "--output", "FILE", "more than one output", &output)},
	        .sw_input = true};
	if (int status = read_command_line(command_line, argc, argv, &input); status >= 0)
		return status;

	Input in;
	std::vector<uint8_t> text;
	if (!open_input(&in, "velmora-encode", input,
	                {.sw_vel = false, .sw_quote = true, .stdin_name = "<stdin>"}) ||
	    !read_whole(&in, &text, SIZE_MAX))
		return 2;

	Encoded r = encode_text(std::string(text.begin(), text.end()));
	fputs(encode_report(r, in.name).c_str(), stderr);
	if (r.errors > 0)
		return 2;

	if (output && strcmp(output, "-") != 0) {
		std::string why;
		if (write_file(output, r.bytes.data(), r.bytes.size(), &why))
			return 0;
		fprintf(stderr, "velmora-encode: cannot write %s\n", why.c_str());
		return 2;
	}
	if (!write_all(STDOUT_FILENO, r.bytes.data(), r.bytes.size())) {
		fprintf(stderr, "velmora-encode: write error: %s\n", strerror(errno));
		return 2;
	}
	return 0;
}
