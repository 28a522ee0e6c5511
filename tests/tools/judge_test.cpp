// One stream, three tools: velmora-decode's listing, velmora-inspect's page
// and velmora-serve's /frame.json judge the same bytes alike (bytes dropped
// before the sync, a pair sent across two words, words without meaning,
// filler, the word at which the list overflows).
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "stream/words.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace
{

using namespace support;

std::string w(uint16_t word)
{
	uint8_t b[2];
	vw_put(b, word);
	return std::string((char *)b, 2);
}

// The number after text in s, or -1000 when text is not there.
long number_after(const std::string &s, const std::string &text)
{
	size_t at = s.find(text);
	return at == std::string::npos ? -1000 : std::stol(s.substr(at + text.size()));
}

size_t count(const std::string &s, const std::string &text)
{
	size_t n = 0;
	for (size_t at = s.find(text); at != std::string::npos; at = s.find(text, at + 1))
		n++;
	return n;
}

std::string get(uint16_t port, const std::string &path)
{
	int fd = connect_local(port);
	if (fd < 0)
		return "";
	write_fully(fd, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
	std::string reply;
	char chunk[4096];
	ssize_t n;
	while ((n = read(fd, chunk, sizeof chunk)) > 0)
		reply.append(chunk, (size_t)n);
	close(fd);
	size_t body = reply.find("\r\n\r\n");
	return body == std::string::npos ? "" : reply.substr(body + 4);
}

TEST(OneJudge, DecodeInspectAndServeSayTheSameOfAStream)
{
	std::string bytes = std::string("\x12\x34\xFF\x00", 4) + "\xFF\xFF";  // 4 dropped, then the pair
	bytes += w(vw_set_x(1023)) + w(0xFF12);  // FF FF across two words, not filler: out of step
	bytes += w(0x8000) + w(VW_FILLER) + w(vw_clear()) + w(vw_set_x(0)) + w(vw_move_y(2, 10));
	for (unsigned i = 0; i < 50001; i++)
		bytes += w(vw_draw_x(i % 1024));
	bytes += w(vw_end_frame());  // after the halt: never read
	TempDir tmp;
	const std::string stream = tmp.file("crafted.bin", bytes);
	// The move's colour and point are two records: the 49999th draw makes
	// 50001, and is the last word taken.
	const long words = 7 + 49999;

	Outcome listing = run({VELMORA_DECODE, stream});
	ASSERT_EQ(listing.status, 1) << listing.err;
	EXPECT_EQ(number_after(listing.out, "words "), words);
	EXPECT_EQ(number_after(listing.out, "dropped bytes "), 4);
	EXPECT_EQ(count(listing.out, " sync\n"), 1u);
	EXPECT_EQ(count(listing.out, " ignored "), 2u);
	EXPECT_EQ(count(listing.out, " filler\n"), 1u);
	EXPECT_EQ(count(listing.out, "# too many commands\n"), 1u);

	Outcome page = run({VELMORA_INSPECT, "-o", "-", stream});
	ASSERT_EQ(page.status, 1) << page.err;
	const std::string meta = page.out.substr(page.out.find("<script id=\"meta\""));
	EXPECT_EQ(number_after(meta, "\"words\":"), words);
	EXPECT_EQ(number_after(meta, "\"haltWord\":"), words - 1);
	EXPECT_EQ(number_after(meta, "\"syncAt\":"), 4);
	EXPECT_EQ(number_after(meta, "\"dropped\":{\"count\":"), 4);
	EXPECT_EQ(number_after(meta, "\"outOfStep\":{\"count\":1,\"at\":["), 0);  // the SET_X
	EXPECT_EQ(number_after(meta, "\"ignored\":{\"count\":"), 2);
	EXPECT_EQ(number_after(meta, "\"filler\":{\"count\":"), 1);

	Child serve({VELMORA_SERVE, "--listen", "127.0.0.1:0"},
	            {{"VELMORA_BOARD", "file:" + stream}, {"VELMORA_BOARD_RATE", "0"}});
	long port = 0;
	ASSERT_TRUE(wait_until([&] {
		port = number_after(serve.err(), "http://127.0.0.1:");
		return port > 0;
	})) << serve.both();
	std::string json;
	ASSERT_TRUE(wait_until([&] {
		json = get((uint16_t)port, "/frame.json");
		return json.find("\"halt\":\"too many commands\"") != std::string::npos;
	})) << json;
	EXPECT_EQ(number_after(json, "\"words\":"), words);
	EXPECT_EQ(number_after(json, "\"syncs\":"), 1);
	EXPECT_EQ(number_after(json, "\"dropped\":"), 4);
	EXPECT_EQ(number_after(json, "\"outOfStep\":"), 1);
	EXPECT_EQ(number_after(json, "\"ignored\":"), 2);
	EXPECT_EQ(number_after(json, "\"filler\":"), 1);
}

}  // namespace
