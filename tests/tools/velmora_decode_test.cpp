// velmora-decode, run as the built binary on sample and made-up streams.
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "stream/words.h"
#include "tests/support/process.h"

namespace
{

using namespace support;

// Runs the tool with args, bytes on its standard input.
Outcome decode_bytes(std::vector<std::string> args, const std::string &bytes)
{
	args.insert(args.begin(), VELMORA_DECODE);
	return run(args, bytes, {}, 120000);
}

Outcome decode(std::vector<std::string> args)
{
	return decode_bytes(std::move(args), "");
}

// Sync pair, then the words high byte first.
std::string stream(const std::vector<uint16_t> &words)
{
	std::vector<uint8_t> b(2 + 2 * words.size());
	size_t n = vw_put_sync(b.data());
	for (uint16_t w : words)
		n += vw_put(b.data() + n, w);
	return std::string(b.begin(), b.end());
}

// The listing line that starts at a byte offset.
std::string line_at(const std::string &listing, uint64_t offset)
{
	std::istringstream in(listing);
	std::string l;
	while (std::getline(in, l)) {
		std::istringstream fields(l);
		uint64_t at;
		if (fields >> at && at == offset)
			return l;
	}
	return "(no line at offset " + std::to_string(offset) + ")";
}

const std::string examples = VELMORA_EXAMPLES;

const char blue_line_records[] = "frame 1 records 4\n"
                                 "0 COLOR 255 0\n"
                                 "1 GOTO 100 200\n"
                                 "2 DRAW 300 200\n"
                                 "3 END_FRAME\n"
                                 "pen 300 200 attr 0\n"
                                 "eof records 4\n"
                                 "0 COLOR 255 0\n"
                                 "1 GOTO 100 200\n"
                                 "2 DRAW 300 200\n"
                                 "3 END_FRAME\n"
                                 "pen 300 200 attr 0\n";

TEST(DecodeRecords, BlueLineExampleGivesItsFourRecordsTwice)
{
	Outcome r = decode({"--records", examples + "/blue_line.bin"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, blue_line_records);
	EXPECT_EQ(r.err, "");
}

TEST(DecodeRecords, StandardInputWhenNoFileOrDash)
{
	std::string bytes = read_file(examples + "/blue_line.bin");
	EXPECT_EQ(decode_bytes({"--records"}, bytes).out, blue_line_records);
	EXPECT_EQ(decode_bytes({"--records", "-"}, bytes).out, blue_line_records);
}

// Box, diagonal and "AA A" in frame 1; in frame 2 a half-turned 'A' whose
// left-of-zero points land on 1023 and a draw after the wrapped pen.  Every
// point follows from the glyph of 'A' by hand, not from the stroker.
TEST(DecodeRecords, TextAndLinesInTwoFrames)
{
	const std::vector<uint16_t> words = {
	        vw_clear(), vw_set_x(100), vw_move_y(VW_BLACK, 100), vw_draw_x(400), vw_draw_y(600),
	        vw_draw_x(100), vw_draw_y(100), VW_FILLER, vw_set_x(150), vw_move_y(VW_BLUE, 150),
	        vw_set_x(350), vw_draw_y(550), vw_attributes(vw_attribute_byte(2, VW_RED, 0)), vw_set_x(120),
	        vw_set_y(300), vw_character('A'), vw_character('A'), vw_character(' '), vw_character('A'),
	        vw_end_frame(),
	        // 2
	        vw_clear(), vw_attributes(vw_attribute_byte(2, VW_RED, 2)), vw_set_x(2), vw_set_y(50),
	        vw_character('A'), vw_draw_y(60), vw_end_frame()};
	const std::string frame2 = "0 GOTO 2 48\n1 DRAW 2 42\n2 DRAW 0 40\n3 DRAW 1023 42\n"
	                           "4 DRAW 1023 48\n5 GOTO 2 45\n6 DRAW 1023 45\n7 DRAW 1023 60\n"
	                           "8 END_FRAME\npen 65531 60 attr 74\n";
	const std::string expected =
	        "frame 1 records 33\n"
	        "0 COLOR 0 0\n1 GOTO 100 100\n2 DRAW 400 100\n3 DRAW 400 600\n4 DRAW 100 600\n"
	        "5 DRAW 100 100\n"
	        "6 COLOR 255 0\n7 GOTO 150 150\n8 DRAW 350 550\n"
	        "9 COLOR 0 255\n"
	        "10 GOTO 120 302\n11 DRAW 120 308\n12 DRAW 122 310\n13 DRAW 124 308\n14 DRAW 124 302\n"
	        "15 GOTO 120 305\n16 DRAW 124 305\n"
	        "17 GOTO 127 302\n18 DRAW 127 308\n19 DRAW 129 310\n20 DRAW 131 308\n21 DRAW 131 302\n"
	        "22 GOTO 127 305\n23 DRAW 131 305\n"
	        "24 GOTO 136 302\n"
	        "25 GOTO 141 302\n26 DRAW 141 308\n27 DRAW 143 310\n28 DRAW 145 308\n29 DRAW 145 302\n"
	        "30 GOTO 141 305\n31 DRAW 145 305\n"
	        "32 END_FRAME\n"
	        "pen 148 300 attr 10\n"
	        "frame 2 records 9\n" +
	        frame2 + "eof records 9\n" + frame2;
	Outcome r = decode_bytes({"--records"}, stream(words));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, expected);
}

// Every example ends on a frame that shows its whole subject, which is what
// the window and velmora-snap show of it: no frame holds more of the list
// than the last one does.
TEST(DecodeRecords, ExamplesEndOnTheirWholePicture)
{
	int files = 0;
	for (const auto &e : fs::directory_iterator(examples)) {
		Outcome r = decode({"--records", e.path().string()});
		ASSERT_EQ(r.status, 0) << e.path() << r.err;
		std::istringstream in(r.out);
		std::string l;
		int most = 0, last = -1;
		while (std::getline(in, l))
			if (l.rfind("frame ", 0) == 0) {
				last = std::stoi(l.substr(l.find(" records ") + 9));
				most = std::max(most, last);
			}
		EXPECT_GT(last, 0) << e.path() << ": no frame";
		EXPECT_EQ(last, most) << e.path() << ": its last frame shows less than an earlier one";
		files++;
	}
	EXPECT_GE(files, 3);
}

TEST(DecodeRecords, EmptyInputOrNoEndOfFrameGivesOnlyTheEofBlock)
{
	EXPECT_EQ(decode_bytes({"--records"}, "").out, "eof records 0\npen 0 0 attr 0\n");
	// Bytes before the pair are dropped; the move in red needs no colour
	// record; no frame ends.
	Outcome r = decode_bytes({"--records"}, "\x01\x02" + stream({vw_set_x(5), vw_move_y(1, 10)}));
	EXPECT_EQ(r.out, "eof records 1\n0 GOTO 5 10\npen 5 10 attr 0\n");
}

// 1 + 49998 + 1 records: exactly full passes; one draw more halts.
std::string full_list(int extra_draws)
{
	std::vector<uint16_t> words = {vw_clear(), vw_move_y(1, 0)};  // to (0, 0) in red
	for (int i = 0; i < 49998 + extra_draws; i++)
		words.push_back(vw_draw_x((unsigned)i));
	words.push_back(vw_end_frame());
	return stream(words);
}

TEST(DecodeOverflow, ExactlyFullListIsNoOverflow)
{
	Outcome r = decode_bytes({"--records"}, full_list(0));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out.substr(0, 30), "frame 1 records 50000\n0 GOTO 0");
	EXPECT_NE(r.out.find("\n49999 END_FRAME\npen "), std::string::npos);
}

TEST(DecodeOverflow, OneRecordMorePrintsTheProgramsTwoLinesAndExitsOne)
{
	Outcome r = decode_bytes({"--records"}, full_list(1));
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "too many commands\nclose window to exit\n");
	EXPECT_NE(r.err.find("overflow"), std::string::npos) << r.err;

	// The listing says so in '#' lines after the word that overflowed, then
	// lists the bytes the display never reads.
	r = decode_bytes({}, full_list(1) + std::string("\x82\x00", 2));
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.out.find("[records 50001, frame 1]\n# too many commands\n# close window to exit\n"),
	          std::string::npos);
	EXPECT_NE(r.out.find("\n    100006               bytes          82 00  # never read"),
	          std::string::npos);
	EXPECT_NE(r.out.find("halted at the word at byte 100004, unread bytes 2\n"), std::string::npos);
}

TEST(DecodeListing, ShowsDroppedSyncFillerIgnoredAndWhatEachWordDid)
{
	// A half pair and the byte after it are dropped with the junk before them.
	const std::string bytes =
	        std::string("\x12\xFF\x34", 3) +
	        stream({0x8100, 0xFFFF, 0x6000, 0x830A, 0x8441, 0x8512, 0x3864, 0x5C64, 0x8200});
	Outcome r = decode_bytes({}, bytes);
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(line_at(r.out, 0), "         0               dropped        3 bytes: 12 FF 34");
	EXPECT_EQ(line_at(r.out, 3), "         3  FF FF        sync");
	EXPECT_EQ(line_at(r.out, 5), "         5  81 00  8100  OP_CLEAR");
	EXPECT_EQ(line_at(r.out, 7), "         7  FF FF  FFFF  filler");
	EXPECT_EQ(line_at(r.out, 9), "         9  60 00  6000  ignored        graphics opcode 0x6000");
	EXPECT_EQ(line_at(r.out, 11), "        11  83 0A  830A  OP_ATTRIBUTES  attr 0x0A size 2 colour 1 "
	                              "(red) rotation 0");
	// 'A' from (0, 0) at size 2: a move and six more points, pen advanced by 7.
	EXPECT_EQ(line_at(r.out, 13),
	          "        13  84 41  8441  OP_CHARACTER   char 0x41 'A'  [records 7, pen 7 0]");
	EXPECT_EQ(line_at(r.out, 15), "        15  85 12  8512  ignored        control opcode 0x0500");
	// A move names its colour; the colour bits of a draw mean nothing.
	EXPECT_EQ(line_at(r.out, 17),
	          "        17  38 64  3864  OP_MOVE_X      x 100 colour 3 (black)  [records 9]");
	EXPECT_EQ(line_at(r.out, 19), "        19  5C 64  5C64  OP_DRAW_Y      y 100  [records 10]");
	EXPECT_EQ(line_at(r.out, 21), "        21  82 00  8200  OP_END_FRAME   [records 11, frame 1]");
	EXPECT_NE(r.out.find("end of input at byte 23: words 9, frames 1, dropped bytes 3, records 11\n"),
	          std::string::npos)
	        << r.out;
}

// The listing follows the framer, not an idea of its own: a third 0xFF is
// the high byte of the first word, and the stream stays misframed.
TEST(DecodeListing, ThirdFFMisframesTheStreamAsTheProgramDoes)
{
	Outcome r = decode_bytes({}, std::string("\xFF\xFF\xFF\x81\x00", 5));
	EXPECT_EQ(line_at(r.out, 2), "         2  FF 81  FF81  ignored        control opcode 0x7F00");
	EXPECT_EQ(line_at(r.out, 4),
	          "         4  00           incomplete     word cut off by the end of input");

	r = decode_bytes({}, std::string("\x01\xFF", 2));
	EXPECT_EQ(line_at(r.out, 1),
	          "         1  FF           incomplete     sync pair cut off by the end of input");
}

// Input is read in 64 KiB chunks; a word whose bytes lie in two of them is
// still one word (one junk byte puts the word boundaries on odd offsets).
TEST(DecodeListing, WordAcrossReadChunksIsOneWord)
{
	std::string bytes = std::string("\x01\xFF\xFF", 3) + std::string(65535 - 3, '\x00');
	bytes += std::string("\x24\x64\x82\x00", 4);  // move y 100 in white at offset 65535; end of frame
	Outcome r = decode_bytes({}, bytes);
	EXPECT_EQ(line_at(r.out, 65535).substr(12),
	          "24 64  2464  OP_MOVE_Y      y 100 colour 0 (white)  [records 2]");
	r = decode_bytes({"--records"}, bytes);
	EXPECT_EQ(r.out.substr(0, r.out.find("eof")),
	          "frame 1 records 3\n0 COLOR 255 65535\n1 GOTO 0 100\n2 END_FRAME\npen 0 100 attr 0\n");
}

TEST(DecodeUsage, UnreadableInputExitsTwoNamingIt)
{
	Outcome r = decode({"/nonexistent/stream.bin"});
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.out, "");
	EXPECT_NE(r.err.find("cannot open '/nonexistent/stream.bin'"), std::string::npos) << r.err;

	r = decode({"--records", testing::TempDir()});
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("read error at byte offset 0"), std::string::npos) << r.err;

	// After "--" a leading dash names a file.
	r = decode({"--", "--records"});
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("cannot open '--records'"), std::string::npos) << r.err;
}

// The input is streamed: 16 MiB more input costs no more memory.
TEST(DecodeLargeInput, MemoryDoesNotGrowWithInput)
{
	// Written to a file and freed before the run: the child's peak RSS can
	// include the parent's at the moment it was spawned.
	TempDir tmp;
	auto big = [&](size_t mib) {
		std::vector<uint16_t> words;
		for (size_t i = 0; i < mib * 1024 * 512 - 1; i++)
			words.push_back(i % 8192 == 0 ? vw_clear() : vw_draw_x((unsigned)i));
		return tmp.file(std::to_string(mib) + "mib", stream(words));
	};
	std::string small_path = big(1), large_path = big(17);
	Outcome small = decode({"--records", small_path});
	Outcome large = decode({"--records", large_path});
	ASSERT_EQ(small.status, 0);
	ASSERT_EQ(large.status, 0);
	EXPECT_LT(large.max_rss_kb - small.max_rss_kb, 8 * 1024)
	        << "1 MiB: " << small.max_rss_kb << " KiB, 17 MiB: " << large.max_rss_kb << " KiB";
}

}  // namespace
