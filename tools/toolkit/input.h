// Where a tool's stream comes from: a FILE, standard input ("-" or no
// FILE), or a FILE named *.vel, velmora-encode's text form, read whole and
// encoded first.  This unit says every trouble with it on stderr, as
// "TOOL: ...", and the tool then exits with status 2.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct Input {
	const char *tool = "";
	std::string name;          // the FILE, or stdin_name
	bool sw_vel = false;       // a .vel file: its stream is all in `vel`
	std::vector<uint8_t> vel;  // the encoded stream of a .vel file
	int fd = -1;               // else the descriptor read
	uint64_t taken = 0;        // bytes read from fd so far
};

// How a tool reads: .vel files or not, and how it has always named what
// it reads.
struct InputWay {
	bool sw_vel;             // a FILE named *.vel is the text form, encoded
	bool sw_quote;           // "cannot open 'FILE'" rather than "cannot open FILE"
	const char *stdin_name;  // standard input in messages
};

// Opens path, nullptr or "-" for standard input; a .vel file is read and
// encoded here (its parser's FILE:LINE:COLUMN lines said, warnings too).
// False once the trouble is said.
bool open_input(Input *in, const char *tool, const char *path, const InputWay &w);

// The next bytes, at most size, into buf: how many, 0 at the end, or -1
// once "NAME: read error at byte offset N: ..." is said.
ssize_t read_input(Input *in, unsigned char *buf, size_t size);

// Appends every byte to *bytes, or stops once more than max are there.
// False once "NAME: read error: ..." is said.
bool read_whole(Input *in, std::vector<uint8_t> *bytes, size_t max);
