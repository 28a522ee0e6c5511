// The event loop under load and at rest: a stream that never pauses must
// not freeze the window, a hidden window must not stall the board, and a
// picture that does not change is not drawn again, yet repaints when the
// window system asks.
#include <atomic>
#include <chrono>
#include <thread>

#include "tests/e2e/harness.h"

namespace e2e
{
namespace
{

using Clock = std::chrono::steady_clock;

double ms_between(Clock::time_point a, Clock::time_point b)
{
	return std::chrono::duration<double, std::milli>(b - a).count();
}

// Writes filler words into a fifo at the line rate in small pieces, as an
// adapter delivers them, so the board is never quiet for a millisecond;
// `extra` goes out at the next word boundary.
class FillerBoard
{
      public:
	explicit FillerBoard(FifoWriter &fifo) : fifo_(fifo), thread_([this] { run(); }) {}
	~FillerBoard()
	{
		stop_ = true;
		thread_.join();
	}
	void send(const std::string &bytes)
	{
		std::lock_guard<std::mutex> lock(mu_);
		extra_ = bytes;
	}
	Clock::time_point sent_at()
	{
		std::lock_guard<std::mutex> lock(mu_);
		return sent_at_;
	}
	bool ok() const { return ok_; }

      private:
	void run()
	{
		const double bytes_per_ms = 150;  // 150,000 bytes/s
		auto start = Clock::now();
		double written = 0;
		while (!stop_ && ok_) {
			std::string out;
			{
				std::lock_guard<std::mutex> lock(mu_);
				out.swap(extra_);
			}
			bool had_extra = !out.empty();
			double due = ms_between(start, Clock::now()) * bytes_per_ms - written;
			for (; due >= 2; due -= 2)
				out += filler;
			written += (double)out.size();
			if (!out.empty() && !fifo_.write(out))
				ok_ = false;
			if (had_extra) {
				std::lock_guard<std::mutex> lock(mu_);
				sent_at_ = Clock::now();
			}
			std::this_thread::sleep_for(std::chrono::microseconds(200));
		}
	}

	const std::string filler = Stream().word(VW_FILLER).bytes();
	FifoWriter &fifo_;
	std::mutex mu_;
	std::string extra_;
	Clock::time_point sent_at_;
	std::atomic<bool> stop_{false}, ok_{true};
	std::thread thread_;
};

using E2eLoop = E2eTest;

TEST_F(E2eLoop, FillerAtTheLineRateLeavesTheWindowLive)
{
	TempDir tmp;
	std::string fifo = tmp.fifo("board");
	Running r = start_with_window({{"VELMORA_BOARD", "fifo:" + fifo}, {"VELMORA_BOARD_RATE", "0"}}, 'n');
	ASSERT_NE(r.window, 0u);
	FifoWriter writer(fifo);
	ASSERT_TRUE(writer.open());

	const Segment first = {100, 100, 900, 100, Colour::Red};
	const Segment second = {100, 600, 900, 600, Colour::Blue};
	ASSERT_TRUE(writer.write(Stream().sync().clear().segments({first}).bytes()));
	FillerBoard board(writer);

	sleep_ms(1000);
	EXPECT_EQ(wait_for_picture(r.window, {first}, 2000), "");

	board.send(Stream().segments({second}).bytes());
	// A few pixels across the new line, read as often as the server
	// answers; a whole window's grab would hold the server up itself.
	Geometry g = window_geometry(r.window);
	Point mid = grid_to_pixel(500, second.y0, g.width, g.height);
	Image strip;
	auto blue = [&] {
		for (int y = 0; y < strip.height; y++)
			if (strip.colour(0, y) == Colour::Blue)
				return true;
		return false;
	};
	bool shown = false;
	Clock::time_point seen;
	for (auto t0 = Clock::now(); !shown && ms_between(t0, Clock::now()) < 3000;) {
		shown = grab(r.window, &strip, (int)mid.x, (int)mid.y - 2, 1, 5) && blue();
		seen = Clock::now();
	}
	ASSERT_TRUE(shown);
	RecordProperty("latency_ms", (int)ms_between(board.sent_at(), seen));
	EXPECT_LT(ms_between(board.sent_at(), seen), 100.0);
	EXPECT_EQ(wait_for_picture(r.window, {first, second}, 2000), "");

	sleep_ms(500);
	EXPECT_TRUE(board.ok());  // the filler still streams
	close_window(r.window);
	int status;
	EXPECT_TRUE(r.child->wait_exit(&status, 1000));
}

TEST_F(E2eLoop, CloseIsHonouredUnderAnUnpacedStreamOfZeros)
{
	Running r =
	        start_with_window({{"VELMORA_BOARD", "file:/dev/zero"}, {"VELMORA_BOARD_RATE", "0"}}, 'y');
	ASSERT_NE(r.window, 0u);
	sleep_ms(300);
	close_window(r.window);
	int status;
	EXPECT_TRUE(r.child->wait_exit(&status, 1000));
}

// Frames sent back to back while nobody can see the window are still taken
// at the timer's pace; the picture is there when the window comes back.
TEST_F(E2eLoop, HiddenWindowKeepsTakingFramesAndShowsTheLatest)
{
	TempDir tmp;
	std::string fifo = tmp.fifo("board");
	Running r = start_with_window({{"VELMORA_BOARD", "fifo:" + fifo}, {"VELMORA_BOARD_RATE", "0"}}, 'y');
	ASSERT_NE(r.window, 0u);
	FifoWriter writer(fifo);
	ASSERT_TRUE(writer.open());
	set_mapped(r.window, false);

	// Far more than the fifo and the board's queue hold.
	Stream frames;
	frames.sync();
	std::vector<Segment> bars;
	for (uint16_t i = 0; i < 200; i++)
		bars.push_back({(uint16_t)(100 + i), 100, (uint16_t)(100 + i), 300, Colour::Red});
	for (int f = 0; f < 200; f++)
		frames.frame(bars);
	const Segment last = {200, 600, 800, 600, Colour::Blue};
	frames.frame({last});

	std::atomic<bool> written{false};
	std::thread board([&] { written = writer.write(frames.bytes()); });
	bool taken = wait_until([&] { return written.load(); }, 8000);
	EXPECT_TRUE(taken);
	if (!taken)
		set_mapped(r.window, true);  // lets the writer finish
	board.join();

	sleep_ms(500);
	set_mapped(r.window, true);
	EXPECT_EQ(wait_for_picture(r.window, {last}), "");
}

class E2eStaticPicture : public E2eTest, public ::testing::WithParamInterface<char>
{
};

// A pass would paint over the black rectangle that the test puts into the
// window; it stays until the window system asks for a repaint.
TEST_P(E2eStaticPicture, IsNotRedrawnUntilExposedOrResized)
{
	const Segment line = {100, 300, 900, 300, Colour::Red};
	TempDir tmp;
	std::string file = tmp.file("frame", Stream().sync().frame({line}).bytes());
	Running r = start_with_window({{"VELMORA_BOARD", "file:" + file}}, GetParam());
	ASSERT_NE(r.window, 0u);
	ASSERT_EQ(wait_for_picture(r.window, {line}), "");

	auto scribbled = [&] {
		Image img;
		return grab(r.window, &img) && img.colour(30, 30) == Colour::Black;
	};
	sleep_ms(100);
	scribble(r.window, 20, 20, 20, 20);
	sleep_ms(300);
	EXPECT_TRUE(scribbled()) << "a pass ran with nothing changed";

	expose(r.window);
	EXPECT_EQ(wait_for_picture(r.window, {line}, 2000), "");

	scribble(r.window, 20, 20, 20, 20);
	ASSERT_TRUE(resize_window(r.window, 600, 450));
	EXPECT_EQ(wait_for_picture(r.window, {line}, 2000), "");
}

INSTANTIATE_TEST_SUITE_P(, E2eStaticPicture, ::testing::Values('y', 'n'), buffering_name);

}  // namespace
}  // namespace e2e
