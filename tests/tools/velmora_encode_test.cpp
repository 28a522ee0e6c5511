// velmora-encode: the parser called directly; the built binary for what only
// the tool does (files, exit status) and for the round trip through the real
// velmora-decode.
#include <dirent.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "stream/encode.h"
#include "stream/words.h"
#include "tests/support/process.h"

namespace
{

using namespace support;

std::string text_of(const std::vector<uint8_t> &bytes)
{
	return std::string(bytes.begin(), bytes.end());
}

std::string w(uint16_t word)
{
	uint8_t b[2];
	vw_put(b, word);
	return std::string((char *)b, 2);
}

std::string move_to(unsigned colour, unsigned x, unsigned y)
{
	uint8_t b[4];
	return std::string((char *)b, vw_put_move_to(b, colour, x, y));
}

std::string line_to(unsigned x, unsigned y)
{
	uint8_t b[4];
	return std::string((char *)b, vw_put_line_to(b, x, y));
}

TEST(EncodeWords, EachInstructionClassGivesItsWords)
{
	const struct {
		const char *text;
		std::string bytes;
	} cases[] = {
	        {"sync", "\xFF\xFF"},
	        {"filler", w(VW_FILLER)},
	        {"word 0x8441  # a comment", w(vw_character('A'))},
	        {"bytes FF 1 0x2", "\xFF\x01\x02"},
	        {"OP_SET_X 1023", w(vw_set_x(1023))},
	        {"OP_SET_Y y 0x10", w(vw_set_y(16))},
	        {"OP_MOVE_X 5 black", w(vw_move_x(3, 5))},
	        {"OP_MOVE_Y y 200 colour 2 (blue)", w(vw_move_y(2, 200))},
	        {"OP_DRAW_X x 7", w(vw_draw_x(7))},
	        {"OP_DRAW_Y 9", w(vw_draw_y(9))},
	        {"OP_CLEAR", w(vw_clear())},
	        {"OP_END_FRAME", w(vw_end_frame())},
	        {"OP_ATTRIBUTES rotation 2 size 7 colour 3", w(vw_attributes(vw_attribute_byte(7, 3, 2)))},
	        {"OP_ATTRIBUTES attr 0x0A size 2 colour 1 (red) rotation 0", w(vw_attributes(0x0A))},
	        {"OP_CHARACTER 0x41", w(vw_character('A'))},
	        {"OP_CHARACTER '\\''", w(vw_character('\''))},
	        // velmora-decode writes a quote, a backslash and a '#' bare.
	        {"OP_CHARACTER char 0x27 '''", w(vw_character('\''))},
	        {"OP_CHARACTER char 0x5C '\\'", w(vw_character('\\'))},
	        {"OP_CHARACTER '#'", w(vw_character('#'))},
	        {"OP_CHARACTER char 0x05 (drawn as DEL)", w(vw_character(5))},
	        {"\"A\\n\\x7f\\101\\0\\\"#\"",
	         w(vw_character('A')) + w(vw_character('\n')) + w(vw_character(0x7F)) + w(vw_character('A')) +
	                 w(vw_character(0)) + w(vw_character('"')) + w(vw_character('#'))},
	        {"moveto 1 2", move_to(1, 1, 2)},
	        {"moveto 1 2 white", move_to(0, 1, 2)},
	        {"lineto 3 4", line_to(3, 4)},
	        // An edited operand beats the listing's columns.
	        {"  4  00 64  0064  OP_SET_X       x 200  [records 2]", w(vw_set_x(200))},
	};
	for (const auto &c : cases) {
		Encoded r = encode_text(c.text);
		EXPECT_EQ(r.errors, 0) << c.text << ": " << (r.messages.empty() ? "" : r.messages[0].text);
		EXPECT_EQ(text_of(r.bytes), c.bytes) << c.text;
	}
}

TEST(EncodeErrors, EachClassAtItsLineAndColumnAndNoBytes)
{
	const struct {
		const char *line;
		int column;
		const char *message;
	} cases[] = {
	        {"sync", 0, nullptr},  // good lines give no bytes either
	        {"frobnicate 1", 1, "unknown instruction 'frobnicate'"},
	        {"clear", 1, "unknown instruction 'clear'"},
	        {"OP_SET_X 1024", 10, "x 1024 out of range 0..1023"},
	        {"OP_ATTRIBUTES size 8", 20, "size 8 out of range 0..7"},
	        {"OP_MOVE_X 5 colour 5", 20, "colour 5 out of range 0..3"},
	        {"word 0x10000", 6, "word 0x10000 out of range 0..0xFFFF"},
	        {"bytes FF 100", 10, "byte 100 out of range 0..0xFF"},
	        {"OP_SET_X 12a", 10, "bad x '12a': not a number"},
	        {"\"ab\\qc\"", 4, "unknown escape '\\q'"},
	        {"  \"abc # no end", 3, "unterminated string"},
	        {"OP_CHARACTER 'ab'", 14, "bad character"},
	        {"OP_SET_Y", 9, "missing y"},
	        {"OP_MOVE_Y 1", 12, "missing colour"},
	        {"OP_CLEAR 5", 10, "extra operand '5'"},
	        {"OP_ATTRIBUTES attr 0x0A size 3", 25, "size 3 disagrees with attr 0x0A, whose size is 2"},
	        {"OP_MOVE_Y 1 colour 2 (red)", 22, "colour 2 is blue, not (red)"},
	        {"OP_CHARACTER 0x41 'B'", 19, "char 0x41 is 'A', not 'B'"},
	        {"5  81 00  8101  OP_CLEAR", 11, "word column 8101 disagrees with the bytes column 81 00"},
	        {"ignored graphics opcode 0x2000", 25, "0x2000 is not an ignored graphics opcode"},
	};
	std::string text;
	for (const auto &c : cases)
		text += std::string(c.line) + "\n";
	Encoded r = encode_text(text);
	EXPECT_TRUE(r.bytes.empty());
	EXPECT_FALSE(r.stopped);
	std::vector<std::string> want, got;
	for (size_t i = 0; i < std::size(cases); i++)
		if (cases[i].message)
			want.push_back(std::to_string(i + 1) + ":" + std::to_string(cases[i].column) + ": " +
			               cases[i].message);
	for (const EncodeMessage &m : r.messages)
		got.push_back(std::to_string(m.line) + ":" + std::to_string(m.column) + ": " + m.text);
	for (size_t i = 0; i < want.size() && i < got.size(); i++)
		EXPECT_EQ(got[i].substr(0, want[i].size()), want[i]);
	EXPECT_EQ(got.size(), want.size());

	std::string many;
	for (int i = 0; i < encode_max_errors + 5; i++)
		many += "nonsense\n";
	r = encode_text(many);
	EXPECT_EQ(r.errors, encode_max_errors);
	EXPECT_TRUE(r.stopped);
}

// The tool writes all or nothing: an output file only when the input is good.
TEST(EncodeTool, OutputOnlyWhenTheWholeInputIsGood)
{
	std::string dir = testing::TempDir() + "velmora_encode_XXXXXX";
	ASSERT_NE(mkdtemp(dir.data()), nullptr);
	std::string out = dir + "/out.bin";
	auto entries = [&] {
		int n = 0;
		DIR *d = opendir(dir.c_str());
		while (dirent *e = readdir(d))
			n += e->d_name[0] != '.';
		closedir(d);
		return n;
	};
	write_file(out, "keep");

	Outcome r = run({VELMORA_ENCODE, "-o", out}, "sync\nOP_CLEAR\nOP_SET_X 1024\n");
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, "<stdin>:3:10: error: x 1024 out of range 0..1023\n");
	EXPECT_EQ(read_file(out), "keep");
	EXPECT_EQ(entries(), 1);
	r = run({VELMORA_ENCODE}, "sync\nOP_CLEAR\n\"\\z\"\n");
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.out, "");

	// Drawing before the first sync warns, once, and is still written.  A
	// lone FF is no sync.
	r = run({VELMORA_ENCODE, "-o", out}, "bytes FF\nOP_CLEAR\nsync\nOP_CLEAR\n");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err,
	          "<stdin>:2:1: warning: drawing words before the first sync: the display drops them\n");
	EXPECT_EQ(read_file(out), std::string("\xFF") + w(vw_clear()) + "\xFF\xFF" + w(vw_clear()));
	EXPECT_EQ(entries(), 1);
	unlink(out.c_str());
	rmdir(dir.c_str());
}

// Junk before the first pair, more pairs and lone FFs among the words (some
// misframe the rest), a word cut off at the end; or bytes with no order.
std::string random_stream(std::mt19937 &rng)
{
	auto pick = [&](unsigned n) { return (unsigned)(rng() % n); };
	std::string s;
	if (pick(3) == 0) {
		for (unsigned i = pick(300); i > 0; i--)
			s += pick(4) == 0 ? '\xFF' : (char)rng();
		return s;
	}
	for (unsigned i = pick(4); i > 0; i--)
		s += (char)rng();
	s += "\xFF\xFF";
	for (unsigned i = pick(400); i > 0; i--) {
		unsigned what = pick(16);
		uint16_t word = (uint16_t)rng();
		if (what == 0)
			s += "\xFF\xFF";
		else if (what == 1)
			s += '\xFF';
		else if (what < 8)  // an instruction of the control kind, rather than mostly ignored ones
			s += w((uint16_t)(VW_CONTROL_BIT | (1 + pick(4)) << 8 | (word & VW_OPERAND_MASK)));
		else
			s += w(word);
	}
	if (pick(2))
		s += (char)rng();
	return s;
}

TEST(EncodeRoundTrip, DecodeListingEncodesToTheSameBytes)
{
	std::vector<std::string> streams = {read_file(std::string(VELMORA_EXAMPLES) + "/box_text.bin"), "",
	                                    "\x12\xFF", "\xFF\xFF\xFF\x81\x00"};
	std::mt19937 rng(20240611);
	for (int i = 0; i < 150; i++)
		streams.push_back(random_stream(rng));
	for (size_t i = 0; i < streams.size(); i++) {
		Outcome listing = run({VELMORA_DECODE}, streams[i]);
		ASSERT_EQ(listing.status, 0) << "stream " << i << ": " << listing.err;
		Encoded r = encode_text(listing.out);
		ASSERT_EQ(r.errors, 0) << "stream " << i << " line " << r.messages[0].line << ": "
		                       << r.messages[0].text << "\n"
		                       << listing.out;
		ASSERT_EQ(text_of(r.bytes), streams[i]) << "stream " << i << "\n" << listing.out;
	}
}

// The board bug most worth capturing: the listing of a stream that
// overflows the display list goes past the halt, and encodes back whole.
TEST(EncodeRoundTrip, OverflowingStreamEncodesBackToEveryByte)
{
	std::string stream = "\xFF\xFF" + w(vw_clear()) + move_to(1, 0, 0);
	for (int i = 0; i < 50000; i++)
		stream += w(vw_draw_x((unsigned)i % 1024));
	stream += w(vw_end_frame()) + "\x12\xFF\xFF" + w(vw_clear());
	Outcome listing = run({VELMORA_DECODE}, stream);
	ASSERT_EQ(listing.status, 1) << listing.err;
	Encoded r = encode_text(listing.out);
	ASSERT_EQ(r.errors, 0) << r.messages[0].line << ": " << r.messages[0].text;
	EXPECT_TRUE(text_of(r.bytes) == stream) << r.bytes.size() << " of " << stream.size() << " bytes";
}

}  // namespace
