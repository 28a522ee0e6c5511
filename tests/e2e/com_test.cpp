// The COM backend end to end, under Wine (scripts/test-windows): a
// pseudo-terminal is the port, mapped as COM7 in the Wine prefix's devices,
// whose registry holds what FTDI's driver leaves for an FT232R with serial
// A5XK3RJT (tests/e2e/ftdi-com7.reg).  velmora.exe lists it, opens it, sets
// it up, takes a megabyte whole, and ends in the read failure's lines when
// the port vanishes.  Elsewhere the case is skipped.

#include <cstdlib>
#include <thread>

#include "tests/e2e/harness.h"
#include "tests/support/tty.h"

namespace e2e
{
namespace
{

using E2eComPort = E2eTest;

TEST_F(E2eComPort, ListedOpenedSetReadAndLost)
{
	if (!velmora_under_wine())
		GTEST_SKIP() << "Windows' COM ports: under Wine only (scripts/test-windows)";
	TempDir tmp;
	Pty pty;
	ASSERT_FALSE(pty.name().empty());
	const fs::path com7 = fs::path(getenv("WINEPREFIX")) / "dosdevices" / "com7";
	std::error_code ec;
	fs::remove(com7, ec);
	fs::create_symlink(pty.name(), com7);

	const std::string capture = (tmp.path() / "capture.bin").string();
	auto child = start_velmora({{"VELMORA_CAPTURE", capture}});
	// The hub and port of the driver's location, "Port_#0001.Hub_#0001".
	ASSERT_TRUE(console_is(*child, startup_lines("A5XK3RJT", 0x11) + question));
	child->write_in("y\n");
	Window w = find_window();
	ASSERT_NE(w, 0u) << child->both();
	EXPECT_NE(child->err().find("COM7: the FTDI driver's latency timer is 16 ms"), std::string::npos)
	        << child->err();

	// The DCB as the pseudo-terminal's termios, seen from Linux.
	pty.expect_board_line();

	// A megabyte: frames of a few lines, then filler, over and over.
	Stream s;
	s.sync();
	for (unsigned k = 0; s.bytes().size() < (1u << 20) - 16384; k++) {
		const size_t start = s.bytes().size();
		s.frame({{(uint16_t)(k * 7 % 1000), 10, (uint16_t)(k * 13 % 1000), 700, Colour::Blue}});
		while (s.bytes().size() < start + 16384)
			s.word(0xFFFF);
	}
	const Segment last = {100, 100, 900, 600, Colour::Red};
	s.frame({last});
	ASSERT_TRUE(pty.write(s.bytes()));
	std::string got;
	EXPECT_TRUE(wait_until([&] { return (got = read_file(capture)).size() >= s.bytes().size(); }, 60000));
	EXPECT_TRUE(got == s.bytes()) << got.size() << " of " << s.bytes().size() << " bytes";
	EXPECT_EQ(wait_for_picture(w, {last}), "");

	pty.hang_up();
	ASSERT_TRUE(child->wait_out_contains("close window to exit\n", 30000)) << child->both();
	const std::string out = child->out();
	EXPECT_TRUE(out.find("could not read queue information\nclose window to exit\n") !=
	                    std::string::npos ||
	            out.find("could not read value\nclose window to exit\n") != std::string::npos)
	        << out;
	close_window(w);
	EXPECT_TRUE(child->wait_exit(nullptr, 30000));
	fs::remove(com7, ec);
}

}  // namespace
}  // namespace e2e
