// The framing of the live stream through a named pipe: a word may be split
// by a pause shorter than three seconds, but three seconds of silence in
// the middle of a word drop the synchronisation, and only a new pair of
// 0xFF bytes brings the words back.
#include <unistd.h>

#include "tests/e2e/harness.h"

namespace e2e
{
namespace
{

using E2eFraming = E2eTest;

TEST_F(E2eFraming, SilenceDropsSynchronisationUntilTheNextPair)
{
	TempDir tmp;
	std::string fifo = tmp.fifo("board");
	Running r = start_with_window({{"VELMORA_BOARD", "fifo:" + fifo}}, 'n');
	ASSERT_NE(r.window, 0u);
	FifoWriter board(fifo);
	ASSERT_TRUE(board.open());

	const Segment kept = {100, 100, 400, 100, Colour::Red};
	const Segment split = {100, 200, 400, 200, Colour::Red};
	const Segment dropped = {100, 300, 400, 300, Colour::Blue};
	const Segment resynced = {600, 500, 900, 500, Colour::Black};

	ASSERT_TRUE(board.write(Stream().sync().frame({kept}).bytes()));
	ASSERT_EQ(wait_for_picture(r.window, {kept}), "");

	// A move word split by a pause of 1.5 s is still taken whole.
	std::string bytes = Stream().sync().move_to(split.colour, split.x0, split.y0).bytes();
	ASSERT_TRUE(board.write(bytes.substr(0, bytes.size() - 1)));
	sleep_ms(1500);
	ASSERT_TRUE(board.write(bytes.substr(bytes.size() - 1) +
	                        Stream().line_to(split.x1, split.y1).end_frame().bytes()));
	ASSERT_EQ(wait_for_picture(r.window, {kept, split}), "");

	// The pair again (a filler word if the framer is still in step), then
	// the high byte of a clear, then silence.
	const std::string clear = Stream().clear().bytes();
	ASSERT_TRUE(board.write(Stream().sync().bytes() + clear[0]));
	sleep_ms(3600);

	// Read in step these would complete the clear and draw the blue
	// segment; after the silence they are dropped (none of them is 0xFF).
	const std::string late = clear[1] + Stream().segments({dropped}).end_frame().bytes();
	ASSERT_EQ(late.find('\xFF'), std::string::npos);
	ASSERT_TRUE(board.write(late));

	ASSERT_TRUE(board.write(Stream().sync().segments({resynced}).end_frame().bytes()));
	EXPECT_EQ(wait_for_picture(r.window, {kept, split, resynced}), "");
	EXPECT_TRUE(r.child->running());
}

using E2eIdle = E2eTest;

// With nothing arriving the program still redraws about a hundred times a
// second and keeps asking the board for bytes, but it must not spin: a
// busy idle loop shows as a whole core.  (bench/idle/idle_cpu gives the
// figure; the bound here leaves room for a sanitized build.)
TEST_F(E2eIdle, SilentBoardLeavesTheProcessorMostlyIdle)
{
	Running r = start_with_window({{"VELMORA_BOARD", "file:/dev/null"}}, 'n');
	ASSERT_NE(r.window, 0u);
	sleep_ms(500);
	EXPECT_LT(r.child->cpu_percent(1000), 25.0);
	EXPECT_TRUE(r.child->running());
}

// Connects to the board's port and sends `bytes`; the connection closes
// when the client goes out of scope.
class TcpClient
{
      public:
	explicit TcpClient(uint16_t port)
	{
		wait_until([&] { return (fd_ = connect_local(port)) >= 0; });
	}
	~TcpClient()
	{
		if (fd_ >= 0)
			close(fd_);
	}
	bool send_all(const std::string &bytes) { return fd_ >= 0 && write_fully(fd_, bytes); }

      private:
	int fd_ = -1;
};

using E2eTcp = E2eTest;

// A board on a TCP port: one client draws a frame and leaves, the next one
// connects and draws the next.
TEST_F(E2eTcp, ClientsComeAndGo)
{
	uint16_t port = free_port();
	ASSERT_NE(port, 0);
	Running r = start_with_window({{"VELMORA_BOARD", "tcp:" + std::to_string(port)}}, 'y');
	ASSERT_NE(r.window, 0u);

	const Segment first = {100, 100, 900, 700, Colour::Blue};
	const Segment second = {100, 700, 900, 100, Colour::Red};
	for (const Segment &seg : {first, second}) {
		TcpClient board(port);
		ASSERT_TRUE(board.send_all(Stream().sync().frame({seg}).bytes()));
		EXPECT_EQ(wait_for_picture(r.window, {seg}), "");
	}
	EXPECT_TRUE(r.child->running());
}

}  // namespace
}  // namespace e2e
