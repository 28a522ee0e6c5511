// The board test's scenarios.  They run inside the guest that
// scripts/test-board boots: velmora reaches each board through the real
// kernel's ftdi_sio driver, facing the FT232R model (tests/board/ft232r.cpp)
// on the host.  The guest writes a board's bytes into a virtio-serial port
// named boardN, which the model takes them from at the line rate, and asks
// the model through controlN.  VB_SERIAL0 and VB_SERIAL1 name the boards
// that the boot attached.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tests/e2e/harness.h"

namespace e2e
{
namespace
{

constexpr int stream_timeout_ms = 120000;

std::string env_or(const char *name, const char *fallback)
{
	const char *v = getenv(name);
	return v && *v ? v : fallback;
}

// The device node of the virtio-serial port with this name, "" if none.
std::string virtio_port(const std::string &name)
{
	std::error_code ec;
	for (const auto &e : fs::directory_iterator("/sys/class/virtio-ports", ec)) {
		std::string n = read_file(e.path() / "name");
		if (!n.empty() && n.back() == '\n')
			n.pop_back();
		if (n == name)
			return "/dev/" + e.path().filename().string();
	}
	return "";
}

// What the model says of itself on a "summary" line.
struct Summary {
	std::string line;
	uint64_t sent = 0, delivered = 0, lost = 0, overrun_packets = 0, held_off = 0;
	unsigned baud = 0, bits = 0, stop = 0, latency = 0;
	std::string parity, flow;
};

// One board's model.  Each scenario starts it afresh: what an earlier
// scenario's board left on the way is dropped and the counts are zeroed.
class Model
{
      public:
	explicit Model(int n) : serial_(env_or(("VB_SERIAL" + std::to_string(n)).c_str(), "")), n_(n)
	{
		if (ask("reset") != "reset")
			ADD_FAILURE() << "the model of board " << n << " did not reset";
	}
	~Model()
	{
		if (control_ >= 0)
			close(control_);
	}
	const std::string &serial() const { return serial_; }
	std::string board_port() const { return virtio_port("board" + std::to_string(n_)); }

	// Sends one control line and returns the model's answer, "" on failure.
	std::string ask(const std::string &line)
	{
		if (control_ < 0) {
			std::string port = virtio_port("control" + std::to_string(n_));
			if (port.empty() || (control_ = open(port.c_str(), O_RDWR | O_CLOEXEC)) < 0)
				return "";
		}
		if (!write_fully(control_, line + "\n"))
			return "";
		std::string answer;
		char c;
		pollfd p = {control_, POLLIN, 0};
		while (poll(&p, 1, 5000) == 1 && read(control_, &c, 1) == 1) {
			if (c == '\n')
				return answer;
			answer += c;
		}
		return "";
	}

	bool summary(Summary *s)
	{
		s->line = ask("summary");
		char parity[16] = "", flow[16] = "";
		return sscanf(s->line.c_str(),
		              "board %*s %" SCNu64 " bytes sent, %" SCNu64 " delivered, %" SCNu64
		              " lost in %" SCNu64 " packets, held off %" SCNu64
		              " times; host: baud %u, bits %u, parity %15[a-z], stop %u, flow %15[a-z-], "
		              "latency %u ms",
		              &s->sent, &s->delivered, &s->lost, &s->overrun_packets, &s->held_off, &s->baud,
		              &s->bits, parity, &s->stop, flow, &s->latency) == 11 &&
		       (s->parity = parity, s->flow = flow, true);
	}

      private:
	std::string serial_;
	int n_;
	int control_ = -1;
};

// Writes a board's bytes into its port from a thread of its own: the write
// blocks for as long as the model holds the board off.
class Board
{
      public:
	Board(const std::string &port, std::string bytes) : bytes_(std::move(bytes))
	{
		fd_ = port.empty() ? -1 : open(port.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
		if (fd_ >= 0)
			thread_ = std::thread([this] { run(); });
	}
	~Board()
	{
		stop_ = true;
		if (thread_.joinable())
			thread_.join();
		if (fd_ >= 0)
			close(fd_);
	}
	bool ok() const { return fd_ >= 0; }
	size_t written() const { return written_; }
	bool done() const { return written_ == bytes_.size(); }

      private:
	void run()
	{
		while (!stop_ && written_ < bytes_.size()) {
			pollfd p = {fd_, POLLOUT, 0};
			if (poll(&p, 1, 50) <= 0)
				continue;
			ssize_t k = write(fd_, bytes_.data() + written_,
			                  std::min<size_t>(bytes_.size() - written_, 4096));
			if (k > 0)
				written_ += (size_t)k;
			else if (k < 0 && errno != EAGAIN && errno != EINTR)
				return;
		}
	}

	std::string bytes_;
	int fd_ = -1;
	std::thread thread_;
	std::atomic<bool> stop_{false};
	std::atomic<size_t> written_{0};
};

// Frames of a few hundred records each: a fan of lines and a label that
// move from frame to frame.  With sync_each, each frame begins with a sync
// pair, so that a display that joins the stream anywhere finds its step.
std::string frames(unsigned count, unsigned seed, bool sync_each = false)
{
	Stream s;
	s.sync();
	for (unsigned k = 0; k < count; k++) {
		if (sync_each && k > 0)
			s.sync();
		s.clear();
		uint16_t cx = (uint16_t)(200 + (k * 37 + seed * 101) % 600),
		         cy = (uint16_t)(150 + (k * 53) % 450);
		for (unsigned i = 0; i < 40; i++) {
			auto c = (Colour)((i + seed) % 3 + 1);
			s.move_to(c, cx, cy).line_to((uint16_t)(i * 25), (uint16_t)(k % 2 ? 0 : 760));
		}
		s.move_to(Colour::Black, 40, 700)
		        .text(vw_attribute_byte(3, 3, 0), "FRAME " + std::to_string(k));
		s.end_frame();
	}
	return s.bytes();
}

// A frame now and then, the rest filler: megabytes that velmora takes
// about as fast as the line brings them.
std::string bulk(size_t size)
{
	Stream s;
	s.sync();
	unsigned k = 0;
	while (s.bytes().size() + 16384 <= size) {
		const size_t start = s.bytes().size();
		s.clear();
		for (unsigned i = 0; i < 20; i++)
			s.move_to(Colour::Blue, (uint16_t)(k * 7 % 1000), 10)
			        .line_to((uint16_t)(i * 50), 700);
		s.end_frame();
		while (s.bytes().size() < start + 16384)
			s.word(0xFFFF);
		k++;
	}
	while (s.bytes().size() < size)
		s.word(0xFFFF);
	return s.bytes().substr(0, size);
}

// velmora's capture once it has as many bytes as expected, or has stopped
// growing for still_ms.  Under emulation a first frame's pass alone can take
// seconds (llvmpipe compiles its shaders then).
std::string wait_capture(const std::string &path, size_t expected, int still_limit_ms = 15000)
{
	size_t last = 0;
	int still_ms = 0;
	wait_until(
	        [&] {
		        std::error_code ec;
		        size_t now = (size_t)fs::file_size(path, ec);
		        still_ms = now == last ? still_ms + poll_ms : 0;
		        last = now;
		        return now >= expected || (now > 0 && still_ms >= still_limit_ms);
	        },
	        stream_timeout_ms);
	return read_file(path);
}

// Where two byte strings first differ, for a failure message.
std::string first_difference(const std::string &a, const std::string &b)
{
	size_t i = 0;
	while (i < a.size() && i < b.size() && a[i] == b[i])
		i++;
	return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) +
	       ", first difference at byte " + std::to_string(i);
}

// velmora-snap's picture of the bytes, as the window shows them with double
// buffering at the start size.
Image snap(const TempDir &tmp, const std::string &bytes)
{
	const std::string in = tmp.file("snap.bin", bytes), png = (tmp.path() / "snap.png").string();
	Child c({VELMORA_SNAP, "--double", "-o", png, in});
	int status = -1;
	std::string why;
	if (!c.wait_exit(&status, 120000) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
		ADD_FAILURE() << "velmora-snap failed: " << c.err();
		return {};
	}
	Image img = read_png(png, &why);
	EXPECT_EQ(why, "");
	return img;
}

::testing::AssertionResult window_shows(Window w, const Image &expected)
{
	Image shown;
	std::string why = "window not readable";
	wait_until([&] { return grab(w, &shown) && (why = differences(expected, shown)).empty(); });
	if (why.empty())
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure() << why;
}

// Who runs velmora: root, a user in the dialout group, or one outside it.
enum class User { root, dialout, outsider };
constexpr uid_t user_id = 1000;

gid_t dialout()
{
	const group *g = getgrnam("dialout");
	return g ? g->gr_gid : 20;
}

// The device nodes as udev leaves them on Debian: root:dialout, 0660.
void ports_as_udev_leaves_them()
{
	std::error_code ec;
	for (const auto &e : fs::directory_iterator("/dev", ec))
		if (e.path().filename().string().rfind("ttyUSB", 0) == 0) {
			EXPECT_EQ(chown(e.path().c_str(), 0, dialout()), 0);
			EXPECT_EQ(chmod(e.path().c_str(), 0660), 0);
		}
}

// velmora as `who`, on the suite's X server.
std::unique_ptr<Child> start_as(User who, const EnvVars &env)
{
	if (who == User::root)
		return start_velmora(env);
	ports_as_udev_leaves_them();
	std::string id = std::to_string(user_id);
	std::string groups =
	        who == User::dialout ? "--groups=" + std::to_string(dialout()) : "--clear-groups";
	EnvVars all = env;
	all.emplace_back("DISPLAY", x_display());
	all.emplace_back("HOME", "/tmp");
	all.emplace_back("ASAN_OPTIONS", "detect_leaks=0");
	return std::make_unique<Child>(std::vector<std::string>{"/usr/bin/setpriv", "--reuid=" + id,
	                                                        "--regid=" + id, groups, "--",
	                                                        VELMORA_BINARY},
	                               all);
}

// A scratch folder that a user other than root may write into.
struct SharedDir : TempDir {
	SharedDir() { fs::permissions(path(), fs::perms::all); }
};

// velmora on the suite's X server, answered with double buffering, its
// console checked up to the question against what the driver lists.
Running start_on_board(const EnvVars &env, const std::string &expected_start, User who = User::root)
{
	Running r;
	r.child = start_as(who, env);
	if (!r.child->wait_out_contains(question, 30000)) {
		ADD_FAILURE() << "no question; " << r.child->both();
		return r;
	}
	if (!expected_start.empty()) {
		EXPECT_EQ(r.child->out(), expected_start + question) << r.child->err();
	}
	r.child->write_in("y\n");
	r.window = find_window(30000);
	if (!r.window)
		ADD_FAILURE() << "no window; " << r.child->both();
	return r;
}

// The guest's xhci puts the board on bus 1, port 1 (LocId 0x11); a second
// board is on port 2.
constexpr unsigned loc_first = 0x11;

using Board1 = E2eTest;

// As a user in dialout, as a board developer runs it: no latency note, so
// the driver took the low-latency flag.
TEST_F(Board1, StartsThroughTheRealDriver)
{
	Model m(0);
	Running r = start_on_board({}, startup_lines(m.serial(), loc_first), User::dialout);
	ASSERT_NE(r.window, 0u);
	EXPECT_EQ(r.child->err(), "");
	close_window(r.window);
	EXPECT_TRUE(r.child->wait_exit(nullptr, 30000));
}

// Outside dialout the port is refused: the open's failure lines, the hint
// on stderr, and a halt.
TEST_F(Board1, OutsideDialoutTheOpenFails)
{
	Model m(0);
	auto child = start_as(User::outsider, {});
	const std::string failed = "could not open ft device\nclose window to exit\n";
	ASSERT_TRUE(child->wait_out_contains(failed, 30000)) << child->both();
	const std::string listing = startup_lines(m.serial(), loc_first);
	EXPECT_EQ(child->out(), listing.substr(0, listing.find("device 0 opened")) + failed);
	EXPECT_NE(child->err().find("Permission denied (is the user in the dialout group?)"),
	          std::string::npos)
	        << child->err();
	EXPECT_TRUE(child->running());
	child->signal(SIGTERM);
	EXPECT_TRUE(child->wait_exit());
}

TEST_F(Board1, LineSettingsReachTheChip)
{
	Model m(0);
	Running r = start_on_board({}, "", User::dialout);
	ASSERT_NE(r.window, 0u);

	// While velmora has the port open: a close resets flow control and RTS.
	Summary s;
	ASSERT_TRUE(m.summary(&s)) << s.line;
	EXPECT_EQ(s.baud, 1500000u) << s.line;
	EXPECT_EQ(s.bits, 8u) << s.line;
	EXPECT_EQ(s.parity, "none") << s.line;
	EXPECT_EQ(s.stop, 1u) << s.line;
	EXPECT_EQ(s.flow, "rts-cts") << s.line;
	EXPECT_EQ(s.latency, 1u) << s.line;

	Child stty({"/usr/bin/stty", "-a", "-F", "/dev/ttyUSB0"});
	ASSERT_TRUE(stty.wait_exit());
	std::string a = stty.out();
	for (char &c : a)
		c = c == '\n' || c == ';' ? ' ' : c;
	a = " " + a + " ";
	for (const char *want : {" speed 1500000 baud ", " cs8 ", " -parenb ", " -cstopb ", " crtscts "})
		EXPECT_NE(a.find(want), std::string::npos) << want << " in\n" << stty.out();
	close_window(r.window);
}

TEST_F(Board1, StreamAtLineRatePausedAtEveryFrame)
{
	Model m(0);
	SharedDir tmp;
	const std::string capture = (tmp.path() / "capture.bin").string();
	Running r = start_on_board({{"VELMORA_CAPTURE", capture}}, "", User::dialout);
	ASSERT_NE(r.window, 0u);

	const std::string bytes = frames(150, 0);
	Board board(m.board_port(), bytes);
	ASSERT_TRUE(board.ok());
	const std::string got = wait_capture(capture, bytes.size());
	Summary s;
	m.summary(&s);
	EXPECT_TRUE(got == bytes) << first_difference(got, bytes) << "; the board wrote " << board.written()
	                          << "; " << s.line << "\n"
	                          << r.child->err();
	EXPECT_TRUE(window_shows(r.window, snap(tmp, bytes)));
	close_window(r.window);
}

// The board's line at another rate than the host's: every packet reaches
// the driver flagged with framing errors.  The board sends its frames so
// changed that the model's garbling gives them back, so the picture is of
// the frames; velmora says the errors once a burst, with the running count.
TEST_F(Board1, LineErrorsAreSaid)
{
	Model m(0);
	ASSERT_EQ(m.ask("line 1000000,8N1"), "line set");
	TempDir tmp;
	const std::string capture = (tmp.path() / "capture.bin").string();
	Running r = start_on_board({{"VELMORA_CAPTURE", capture}}, "");
	ASSERT_NE(r.window, 0u);

	const std::string bytes = frames(150, 4);
	std::string sent = bytes;
	for (char &c : sent)
		c = (char)(c ^ 0x55);
	const auto start = std::chrono::steady_clock::now();
	Board board(m.board_port(), sent);
	ASSERT_TRUE(board.ok());
	const std::string got = wait_capture(capture, bytes.size());
	const long seconds =
	        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
	                .count();
	EXPECT_TRUE(got == bytes) << first_difference(got, bytes);
	EXPECT_TRUE(window_shows(r.window, snap(tmp, bytes)));

	std::vector<int> counts;
	const std::string err = r.child->err();
	for (size_t at = 0; (at = err.find("the serial port reported ", at)) != std::string::npos; at++) {
		int framing = 0, parity = -1;
		if (sscanf(err.c_str() + at, "the serial port reported %d framing and %d parity errors",
		           &framing, &parity) == 2)
			counts.push_back(framing);
	}
	ASSERT_FALSE(counts.empty()) << err;
	EXPECT_LE((long)counts.size(), 1 + seconds) << err;
	EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()) && counts.back() > 1) << err;
	printf("%s", err.c_str());
	close_window(r.window);
}

// The display stops reading for two seconds a third of the way in: the
// chip's FIFO fills and RTS holds the board off.  With the model's
// handshake off, the same run loses bytes, and the same check says so.
void pressure(bool handshake)
{
	Model m(0);
	TempDir tmp;
	const std::string capture = (tmp.path() / "capture.bin").string();
	Running r = start_on_board({{"VELMORA_CAPTURE", capture}}, "");
	ASSERT_NE(r.window, 0u);

	Summary s;
	const std::string bytes = bulk(2u << 20);
	Board board(m.board_port(), bytes);
	ASSERT_TRUE(board.ok());
	ASSERT_TRUE(wait_until(
	        [&] {
		        std::error_code ec;
		        return fs::file_size(capture, ec) >= bytes.size() / 3 && !ec;
	        },
	        stream_timeout_ms));
	r.child->signal(SIGSTOP);
	sleep_ms(2000);
	r.child->signal(SIGCONT);
	ASSERT_TRUE(wait_until([&] { return board.done(); }, stream_timeout_ms));
	const std::string got = wait_capture(capture, bytes.size(), 3000);

	ASSERT_TRUE(m.summary(&s)) << s.line;
	printf("%s\n", s.line.c_str());
	if (handshake) {
		// The board was held off, and velmora has every byte and draws them.
		EXPECT_GT(s.held_off, 0u);
		EXPECT_TRUE(got == bytes) << first_difference(got, bytes);
		EXPECT_TRUE(window_shows(r.window, snap(tmp, bytes)));
		EXPECT_EQ(r.child->err(), "");
	} else {
		// Bytes were lost on the line: velmora says so, and keeps every
		// byte the driver did hand over, which puts a NUL in the stream
		// for each packet that said overrun.
		EXPECT_GT(s.lost, 0u);
		EXPECT_EQ(got.size(), s.delivered + s.overrun_packets);
		EXPECT_NE(r.child->err().find("overrun"), std::string::npos) << r.child->err();
		printf("%s", r.child->err().c_str());
	}
	close_window(r.window);
}

TEST_F(Board1, FlowControlHoldsTheBoardOff)
{
	pressure(true);
}

// The body of GET path from 127.0.0.1:port, "" on any failure.
std::string http_get(int port, const std::string &path)
{
	int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in a = {};
	a.sin_family = AF_INET;
	a.sin_port = htons((uint16_t)port);
	a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	std::string got;
	if (fd >= 0 && connect(fd, (sockaddr *)&a, sizeof a) == 0 &&
	    write_fully(fd, "GET " + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n")) {
		char b[65536];
		ssize_t n;
		while ((n = read(fd, b, sizeof b)) > 0)
			got.append(b, (size_t)n);
	}
	if (fd >= 0)
		close(fd);
	size_t body = got.find("\r\n\r\n");
	return got.rfind("HTTP/1.1 200 ", 0) == 0 && body != std::string::npos ? got.substr(body + 4) : "";
}

// velmora-serve on the same road, with no X server: its console is
// velmora's, and what it serves over loopback is velmora-snap's picture.
TEST_F(Board1, ServesTheBoardHeadless)
{
	Model m(0);
	TempDir tmp;
	const std::string capture = (tmp.path() / "capture.bin").string();
	Child serve({VELMORA_SERVE, "--listen", "127.0.0.1:0"},
	            {{"VELMORA_CAPTURE", capture}, {"DISPLAY", ""}, {"ASAN_OPTIONS", "detect_leaks=0"}});
	int port = 0;
	ASSERT_TRUE(wait_until(
	        [&] {
		        return sscanf(serve.err().c_str(),
		                      "velmora-serve: the board's picture at "
		                      "http://127.0.0.1:%d/",
		                      &port) == 1;
	        },
	        30000))
	        << serve.both();
	EXPECT_TRUE(
	        console_is(serve, startup_lines(m.serial(), loc_first) + "Using double display buffers\n"));

	const std::string bytes = frames(60, 3);
	Board board(m.board_port(), bytes);
	ASSERT_TRUE(board.ok());
	EXPECT_TRUE(wait_capture(capture, bytes.size()) == bytes);
	std::string json;
	EXPECT_TRUE(wait_until(
	        [&] { return (json = http_get(port, "/frame.json")).find("\"frame\":60,") == 1; }, 30000))
	        << json;
	const std::string png = http_get(port, "/frame.png");
	std::string why;
	Image got = read_png(tmp.file("served.png", png), &why);
	EXPECT_EQ(why, "");
	EXPECT_EQ(differences(snap(tmp, bytes), got), "");
	serve.signal(SIGTERM);
	EXPECT_TRUE(serve.wait_exit());
}

TEST_F(Board1, UnplugWhileStreamingHalts)
{
	Model m(0);
	TempDir tmp;
	const std::string capture = (tmp.path() / "capture.bin").string();
	Running r = start_on_board({{"VELMORA_CAPTURE", capture}}, "");
	ASSERT_NE(r.window, 0u);

	Board board(m.board_port(), bulk(1u << 20));
	ASSERT_TRUE(board.ok());
	ASSERT_TRUE(wait_until([&] {
		std::error_code ec;
		return fs::file_size(capture, ec) > 100000 && !ec;
	}));
	m.ask("unplug");
	ASSERT_TRUE(r.child->wait_out_contains("close window to exit\n", 30000)) << r.child->both();
	const std::string out = r.child->out();
	EXPECT_TRUE(out.find("could not read queue information\nclose window to exit\n") !=
	                    std::string::npos ||
	            out.find("could not read value\nclose window to exit\n") != std::string::npos)
	        << r.child->both();
	// Halted: asleep, not spinning.
	EXPECT_LT(r.child->cpu_percent(2000), 10.0);
	close_window(r.window);
	int status = -1;
	EXPECT_TRUE(r.child->wait_exit(&status, 30000));
}

// A board that is already streaming when velmora starts, on the port's
// first open since it was plugged: the driver raises RTS at its own 9600
// baud before velmora's settings reach the chip, and the first bytes come
// in garbled.  They are no fault of the board's: velmora drops them with
// the purge and says nothing of them, finds the stream's step and shows
// its frames.
using BoardFresh = E2eTest;

TEST_F(BoardFresh, BoardAlreadyStreaming)
{
	Model m(0);
	SharedDir tmp;
	const std::string capture = (tmp.path() / "capture.bin").string();
	const std::string bytes = frames(300, 5, true);
	Board board(m.board_port(), bytes);
	ASSERT_TRUE(board.ok());
	sleep_ms(500);
	Running r = start_on_board({{"VELMORA_CAPTURE", capture}}, startup_lines(m.serial(), loc_first),
	                           User::dialout);
	ASSERT_NE(r.window, 0u);
	// Until the capture ends as the stream does (the board's bytes wait in
	// the guest's buffers long after its writes are done).
	std::string got;
	wait_until(
	        [&] {
		        got = read_file(capture);
		        return got.size() >= 64 &&
		               got.compare(got.size() - 64, 64, bytes, bytes.size() - 64) == 0;
	        },
	        stream_timeout_ms);
	Summary s;
	m.summary(&s);
	printf("%s\nvelmora read %zu of the %zu bytes, from byte %zu\n", s.line.c_str(), got.size(),
	       bytes.size(), bytes.size() - got.size());
	// What velmora read is the board's stream from some byte on, whole.
	ASSERT_FALSE(got.empty());
	EXPECT_TRUE(got.size() <= bytes.size() &&
	            bytes.compare(bytes.size() - got.size(), got.size(), got) == 0)
	        << "the capture is not the end of the board's stream; it starts "
	        << first_difference(got, bytes.substr(bytes.size() - std::min(bytes.size(), got.size())));
	EXPECT_TRUE(window_shows(r.window, snap(tmp, got)));
	EXPECT_EQ(r.child->err(), "");
	close_window(r.window);
}

using Board1NoHandshake = E2eTest;

TEST_F(Board1NoHandshake, WithoutHandshakeBytesAreLost)
{
	pressure(false);
}

using Board2 = E2eTest;

TEST_F(Board2, SerialPicksTheSecondBoard)
{
	Model first(0), second(1);
	TempDir tmp;
	const std::string capture = (tmp.path() / "capture.bin").string();
	Running r = start_on_board({{"VELMORA_CAPTURE", capture}, {"VELMORA_SERIAL", second.serial()}}, "");
	ASSERT_NE(r.window, 0u);
	EXPECT_NE(r.child->out().find("SN: " + second.serial() + "  Description: FT232R USB UART\n"),
	          std::string::npos)
	        << r.child->out();

	const std::string a = frames(20, 1), b = frames(30, 2);
	Board board_a(first.board_port(), a), board_b(second.board_port(), b);
	ASSERT_TRUE(board_a.ok() && board_b.ok());
	const std::string got = wait_capture(capture, b.size());
	EXPECT_TRUE(got == b) << first_difference(got, b);
	EXPECT_TRUE(window_shows(r.window, snap(tmp, b)));
	close_window(r.window);
}

using BoardOther = E2eTest;

TEST_F(BoardOther, AnotherConverterIsNotTheBoard)
{
	auto child = start_velmora({});
	int status = -1;
	ASSERT_TRUE(child->wait_exit(&status, 30000));
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
	const std::string out = child->out();
	EXPECT_NE(out.find("Number of devices is 1\n"), std::string::npos) << out;
	const std::string tail = "FT232R USB UART not found\n";
	EXPECT_TRUE(out.size() >= tail.size() && out.substr(out.size() - tail.size()) == tail)
	        << child->both();
}

}  // namespace
}  // namespace e2e
