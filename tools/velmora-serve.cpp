// velmora-serve: the board read headless, its picture served to browsers.
//
// main() binds the listening socket and starts the HTTP server's threads,
// then becomes the board side as velmora's own start-up and idle loop are:
// USB_direct_initialize, capture_open, then GetInstruction over and over,
// asleep on the device between bytes.  Where velmora's window would show a
// picture (double buffering: at each end of frame; single: at a 10 ms tick
// when the list changed) the list is copied into a Frame and published:
// one pointer swapped under a lock, nothing more on the board's side.
// Viewers' threads take the newest frame when they are ready and skip the
// rest; the pictures for /frame.png and /frame.svg are drawn on their side
// from the viewers' copy of the list (tools/view.h).  The HTTP parsing is
// cpp-httplib's.
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "common/config.h"
#include "common/pen.h"
#include "common/platform.h"
#include "display/display_list.h"
#include "display/renderer.h"
#include "picture/picture.h"
#include "stream/framer.h"
#include "stream/words.h"
#include "tools/answer.h"
#include "tools/health.h"
#include "tools/page_json.h"
#include "tools/serve_page.h"
#include "tools/view.h"
#include "usb/capture.h"
#include "usb/usb_link.h"

constexpr size_t max_kept_frames = 64;              // frames the live page keeps to step back through
constexpr size_t max_kept_bytes = (size_t)4 << 20;  // /capture.bin: the last bytes read, at most
constexpr int max_viewers = 32;                     // live pages at once; more get 503
constexpr int server_threads = max_viewers + 16;    // the rest serve one request each at a time
constexpr int viewer_wait_s = 10;                   // a live page hears at least this often (a comment line)
constexpr time_t io_timeout_s = 5;  // a client that sends or takes nothing this long is dropped
constexpr size_t max_headers = 64;  // header lines in a request
constexpr size_t max_body = 1024;   // bytes of a request's body
constexpr size_t token_bytes = 16;  // random bytes of a generated token
constexpr int send_buffer = 65536;  // kernel bytes queued to one client, at most about this

static const char usage_text[] =
        "usage: velmora-serve [--listen ADDR:PORT] [--single] [--token TOKEN]\n"
        "\n"
        "Reads a board as velmora does, with no window and no X server, and serves\n"
        "its picture to browsers.  The console shows velmora's own start-up listing\n"
        "and halt texts; VELMORA_SERIAL, VELMORA_CAPTURE and the virtual board\n"
        "(VELMORA_BOARD...) work as for velmora (see velmora --help).\n"
        "\n"
        "  --listen ADDR:PORT  where to listen (default 127.0.0.1:8080; port 0 picks\n"
        "                      a free one).  Any address but 127.0.0.1 or ::1 needs\n"
        "                      a token: one is made up and printed unless given\n"
        "  --token TOKEN       every request must carry it: ?token=TOKEN in the\n"
        "                      address, or the header Authorization: Bearer TOKEN;\n"
        "                      without it the answer is 401\n"
        "  --single            single buffering: pictures are shown as they are\n"
        "                      built (velmora's answer n); default double, each\n"
        "                      picture once complete (the answer y)\n"
        "  -h, --help          show this text\n"
        "  --version           show the version\n"
        "\n"
        "Addresses, all read-only:\n"
        "  /            the live picture, its frame number, rates and the stream's\n"
        "               health; pause and step back through the last frames\n"
        "  /frame.png   the current frame as velmora-snap pictures it (664x498)\n"
        "  /frame.svg   the same as SVG\n"
        "  /frame.json  the frame number and the stream's health\n"
        "  /capture.bin the last bytes read from the board (at most 4 MiB)\n"
        "  /capture.html those bytes as a velmora-inspect page\n"
        "\n"
        "The page's address is printed on standard error once it listens.  A halt\n"
        "(\"too many commands\", a device failure) is shown on the page too; the\n"
        "server goes on until ended (Ctrl-C).\n";

// ---------------------------------------------------------------- shared state

// The stream's health, counted as the bytes are framed.
struct Health {
	uint64_t bytes = 0;        // read from the device
	uint64_t words = 0;        // framed
	uint64_t frames = 0;       // end-of-frame words
	uint64_t dropped = 0;      // bytes dropped while hunting for sync
	uint64_t syncs = 0;        // sync pairs that started a framing
	uint64_t sync_lost = 0;    // framings dropped after a silence
	uint64_t filler = 0;       // filler words
	uint64_t ignored = 0;      // words the decoder drops
	uint64_t clamped = 0;      // words with a coordinate above 1023 cut to 1023
	uint64_t wrapped = 0;      // characters with a point or the pen below zero, wrapped to 16 bits
	uint64_t out_of_step = 0;  // words whose low byte FF and the next high byte make a pair
	int32_t longest = 0;       // most records a published list held
};

struct Frame {
	uint64_t number = 0;  // end-of-frame words up to it
	uint64_t seq = 0;     // publications up to it
	std::vector<DisplayRecord> list;
	Health health;
	std::string halt;        // the halt's line, empty while the board runs
	double rate_frames = 0;  // per second, over the last second or so
	double rate_words = 0;
	double at_ms = 0;      // wall clock at publication, ms since 1970, for the page's latency
	bool refresh = false;  // the frame before it again, with the counters brought up to date
	// Made once, by whichever viewer needs it first.
	std::once_flag event_once, json_once;
	std::string event, json;
	std::mutex picture_lock;
	std::vector<uint8_t> png;
	std::string svg, picture_why;
	bool sw_png_made = false;
};
using FramePtr = std::shared_ptr<Frame>;

// Never destroyed: an exit from the board side (no device) must not pull
// them from under the server's threads.
struct Shared {
	std::mutex lock;
	std::condition_variable changed;
	FramePtr latest;
	// The last bytes read, at most max_kept_bytes, as the reads gave them:
	// a reader copies the list under the lock, never the bytes.
	std::deque<std::shared_ptr<const std::vector<uint8_t>>> bytes;
	size_t bytes_kept = 0;
	int viewers = 0;
	std::string token;
	bool sw_double = true;
	std::string exe_dir;  // where velmora-inspect is looked for
};
static Shared &S = *new Shared;

static std::mutex &render_lock = *new std::mutex;  // the viewers' list: one picture at a time

// ---------------------------------------------------------------- the board side

static Health health;  // the board thread's own; copied into each frame
static uint64_t seq = 0;
static int32_t published_count = -1;
static uint32_t published_clears = 0;
static std::string halt_line;

static int64_t monotonic_ms()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// Frames and words a second, over windows of about a second.
static int64_t rate_since = 0;
static uint64_t rate_frames0 = 0, rate_words0 = 0;
static double rate_frames = 0, rate_words = 0;

static int64_t published_ms = 0;
static FramePtr published;  // the board side's own hold on S.latest

// The list as it stands, or with `again` the list of the frame published
// last (a double-buffered list is half built between frames).
static void publish(const FramePtr &again = nullptr)
{
	auto f = std::make_shared<Frame>();
	if (again) {
		f->list = again->list;
		f->refresh = true;
	} else {
		int32_t n = nCommands < max_commands ? nCommands : max_commands;
		f->list.assign(command, command + n);
		if (n > health.longest)
			health.longest = n;
		published_count = nCommands;
		published_clears = nClears;
	}
	int64_t now = published_ms = monotonic_ms();
	if (now - rate_since >= 1000) {
		double s = (double)(now - rate_since) / 1000.0;
		rate_frames = rate_since ? (double)(health.frames - rate_frames0) / s : 0;
		rate_words = rate_since ? (double)(health.words - rate_words0) / s : 0;
		rate_since = now;
		rate_frames0 = health.frames;
		rate_words0 = health.words;
	}
	f->number = health.frames;
	f->health = health;
	f->halt = halt_line;
	f->rate_frames = rate_frames;
	f->rate_words = rate_words;
	f->seq = ++seq;
	timespec wall;
	clock_gettime(CLOCK_REALTIME, &wall);
	f->at_ms = (double)wall.tv_sec * 1000.0 + (double)wall.tv_nsec / 1e6;
	{
		std::lock_guard<std::mutex> g(S.lock);
		S.latest = f;
	}
	published = f;
	S.changed.notify_all();
}

// The console: velmora's texts go to standard output as they are; the last
// complete line is kept, for the page to show at a halt.
static std::string console_line, console_last;
static ssize_t console_write(void *, const char *text, size_t n)
{
	if (!write_all(STDOUT_FILENO, text, n))
		return -1;
	for (size_t i = 0; i < n; i++) {
		if (text[i] == '\n') {
			console_last = console_line;
			console_line.clear();
		} else if (console_line.size() < 200) {
			console_line += text[i];
		}
	}
	return (ssize_t)n;
}

// The halt: velmora's last line, then the board is read no more.  The
// server goes on, the page saying what happened.
void error_exit()
{
	std::string why = console_last;
	printf("close window to exit\n");
	capture_flush();
	halt_line = why;
	publish();
	for (;;)
		pause();
}

// A board that goes quiet, or sends bytes but no end of frame, would leave
// the rates and counters as they stood at the last picture: once a second
// without one, the last picture is published again with them up to date,
// until there is nothing new to say.
static void refresh(int64_t now)
{
	const FramePtr &last = published;
	if (now - published_ms >= 1000 && last &&
	    (last->health.bytes != health.bytes || last->rate_frames != 0 || last->rate_words != 0))
		publish(FramePtr(last));
}

// The framer's view of each byte, for the health counters: drchar and
// capture_bytes are wrapped at link time (-Wl,--wrap), the stream code
// untouched.  Each byte is judged at the next call, once the framer has
// taken it.
extern "C" uint16_t __real__Z6drcharv();
extern "C" uint16_t __wrap__Z6drcharv();
extern "C" void __real__Z13capture_bytesPKhj(const unsigned char *bytes, uint32_t n);
extern "C" void __wrap__Z13capture_bytesPKhj(const unsigned char *bytes, uint32_t n);

static uint32_t before_state = state_hunting;  // the framer's state before the byte in hand
static uint32_t after_state = state_hunting;   // its state when that byte was judged
static bool sw_byte_pending = false;
static uint16_t high_byte = 0, last_byte = 0;
static uint16_t pen_x = 0, pen_y = 0, pen_attr = 0;  // before the word in hand
static int step_check = 0;  // bytes seen of a possible FF FF across two words: 1 or 2, 0 none

static void judge_word(uint16_t w)
{
	health.words++;
	if (w == VW_FILLER) {
		health.filler++;
		return;
	}
	if (meaningless(w)) {
		health.ignored++;
		return;
	}
	bool clamp = false, wrap = false;
	word_edges(w, pen_x, pen_y, pen_attr, &clamp, &wrap);
	health.clamped += clamp;
	health.wrapped += wrap;
}

static void judge()
{
	if (!sw_byte_pending) {
		if (state == state_hunting && after_state != state_hunting)
			health.sync_lost++;  // the silence dropped the framing
		after_state = state;
		return;
	}
	sw_byte_pending = false;
	// A pair across two words, not followed by filler: a board that sent
	// sync out of step with this framing.
	if (step_check == 2) {
		health.out_of_step += last_byte != 0xFF;
		step_check = 0;
	} else if (step_check == 1) {
		step_check = before_state == state_high && last_byte == 0xFF ? 2 : 0;
	}
	if (before_state == state_hunting) {
		health.dropped += state != state_half_sync;
	} else if (before_state == state_half_sync) {
		if (state == state_high)
			health.syncs++;
		else
			health.dropped += 2;
	} else if (before_state == state_high) {
		high_byte = last_byte;
	} else {
		uint16_t w = (uint16_t)(high_byte << 8 | last_byte);
		judge_word(w);
		if (last_byte == 0xFF && w != VW_FILLER)
			step_check = 1;
	}
	after_state = state;
}

extern "C" uint16_t __wrap__Z6drcharv()
{
	judge();
	before_state = state;
	if (state == state_low) {
		pen_x = gx1;
		pen_y = gy1;
		pen_attr = CharacterAttributes;
	}
	uint16_t b = __real__Z6drcharv();
	if (b <= 0xFF) {
		sw_byte_pending = true;
		last_byte = b;
	}
	return b;
}

extern "C" void __wrap__Z13capture_bytesPKhj(const unsigned char *bytes, uint32_t n)
{
	__real__Z13capture_bytesPKhj(bytes, n);
	health.bytes += n;
	if (n == 0)
		return;
	auto chunk = std::make_shared<const std::vector<uint8_t>>(bytes, bytes + n);
	std::lock_guard<std::mutex> g(S.lock);
	S.bytes.push_back(std::move(chunk));
	S.bytes_kept += n;
	while (S.bytes_kept > max_kept_bytes) {
		S.bytes_kept -= S.bytes.front()->size();
		S.bytes.pop_front();
	}
}

static std::string kept_bytes()
{
	std::deque<std::shared_ptr<const std::vector<uint8_t>>> chunks;
	{
		std::lock_guard<std::mutex> g(S.lock);
		chunks = S.bytes;
	}
	std::string out;
	for (const auto &c : chunks)
		out.append(c->begin(), c->end());
	return out;
}

[[noreturn]] static void run_board()
{
	sw_wait = 0;
	nCommands = 0;
	USB_direct_initialize();
	capture_open();
	printf(S.sw_double ? "Using double display buffers\n" : "Using single display buffer\n");
	int64_t next_tick = monotonic_ms() + timer_ms;
	for (;;) {
		GetInstruction();
		judge();
		if (sw_wait) {
			// A pass would draw up to this end of frame and release the framer.
			health.frames++;
			if (S.sw_double)
				publish();
			sw_wait = 0;
		}
		int64_t now = monotonic_ms();
		if (now >= next_tick) {
			capture_tick();
			if (!S.sw_double && (nCommands != published_count || nClears != published_clears))
				publish();
			refresh(now);
			next_tick = now + timer_ms;
		}
		if (sw_time_up || sw_wait)
			continue;
		usb_wait(-1, (next_tick - now) * 1000);
	}
}

// ---------------------------------------------------------------- what viewers get

static std::string frame_json(const Frame &f)
{
	const Health &h = f.health;
	char text[800];
	snprintf(text, sizeof text,
	         "{\"frame\":%llu,\"seq\":%llu,\"at\":%.3f,\"double\":%s,\"framesPerSecond\":%.1f,"
	         "\"wordsPerSecond\":%.0f,"
	         "\"records\":%zu,\"health\":{\"bytes\":%llu,\"words\":%llu,\"frames\":%llu,\"dropped\":%llu,"
	         "\"syncs\":%llu,\"syncLost\":%llu,\"filler\":%llu,\"ignored\":%llu,\"clamped\":%llu,"
	         "\"wrapped\":%llu,\"outOfStep\":%llu,\"longest\":%d,"
	         "\"maxCommands\":%d},\"refresh\":%s,\"halt\":",
	         (unsigned long long)f.number, (unsigned long long)f.seq, f.at_ms,
	         S.sw_double ? "true" : "false", f.rate_frames, f.rate_words, f.list.size(),
	         (unsigned long long)h.bytes, (unsigned long long)h.words, (unsigned long long)h.frames,
	         (unsigned long long)h.dropped, (unsigned long long)h.syncs, (unsigned long long)h.sync_lost,
	         (unsigned long long)h.filler, (unsigned long long)h.ignored, (unsigned long long)h.clamped,
	         (unsigned long long)h.wrapped, (unsigned long long)h.out_of_step, (int)h.longest,
	         (int)max_commands, f.refresh ? "true" : "false");
	std::string o = text;
	json_string(o, f.halt);
	o += '}';
	return o;
}

static const std::string &json_of(Frame &f)
{
	std::call_once(f.json_once, [&] { f.json = frame_json(f); });
	return f.json;
}

// A record in 32 bits: kind - 1 in bits 31-30; a GOTO's or DRAW's p1 in
// bits 9-0 and p2 in 19-10; a colour's blue byte in 7-0, green 15-8 and
// red 23-16.
static uint32_t pack(const DisplayRecord &d)
{
	uint32_t kind = (uint32_t)(d.kind - 1) << 30;
	if (d.kind == CMD_COLOR)
		return kind | (uint32_t)(d.p2 & 0xFF) << 16 | (uint32_t)(d.p2 >> 8) << 8 | (d.p1 & 0xFF);
	if (d.kind == CMD_END_FRAME)
		return kind;
	return kind | (uint32_t)(d.p2 & 0x3FF) << 10 | (d.p1 & 0x3FF);
}

static std::string base64(const uint8_t *p, size_t n)
{
	static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
	std::string out;
	out.reserve((n + 2) / 3 * 4);
	for (size_t i = 0; i < n; i += 3) {
		size_t k = n - i < 3 ? n - i : 3;
		uint32_t v =
		        (uint32_t)p[i] << 16 | (k > 1 ? (uint32_t)p[i + 1] << 8 : 0) | (k > 2 ? p[i + 2] : 0);
		out += digits[v >> 18];
		out += digits[(v >> 12) & 63];
		out += k > 1 ? digits[(v >> 6) & 63] : '=';
		out += k > 2 ? digits[v & 63] : '=';
	}
	return out;
}

// One server-sent event: the frame's JSON with its records, little-endian.
static const std::string &event_of(Frame &f)
{
	std::call_once(f.event_once, [&] {
		std::vector<uint8_t> raw(f.list.size() * 4);
		for (size_t i = 0; i < f.list.size(); i++) {
			uint32_t v = pack(f.list[i]);
			for (int b = 0; b < 4; b++)
				raw[i * 4 + (size_t)b] = (uint8_t)(v >> (8 * b));
		}
		std::string j = json_of(f);
		j.pop_back();
		f.event = "data: " + j + ",\"list\":\"" + base64(raw.data(), raw.size()) + "\"}\n\n";
	});
	return f.event;
}

static FramePtr latest()
{
	std::lock_guard<std::mutex> g(S.lock);
	return S.latest;
}

// The frame's picture, drawn once from the viewers' copy of the list.
static bool picture(Frame &f, bool sw_png, std::string *out, std::string *why)
{
	std::lock_guard<std::mutex> g(f.picture_lock);
	if (!f.sw_png_made) {
		std::lock_guard<std::mutex> r(render_lock);
		memcpy(view_command, f.list.data(), f.list.size() * sizeof(DisplayRecord));
		view_nCommands = (int32_t)f.list.size();
		f.svg = view_svg(page_width, page_height, S.sw_double);
		std::vector<uint8_t> rgb;
		if (view_pass(page_width, page_height, S.sw_double, &rgb, &f.picture_why))
			encode_png(page_width, page_height, rgb.data(), &f.png, &f.picture_why);
		f.sw_png_made = true;
	}
	if (!sw_png) {
		*out = f.svg;
		return true;
	}
	*why = f.picture_why;
	out->assign(f.png.begin(), f.png.end());
	return !f.png.empty();
}

// ---------------------------------------------------------------- the server

static bool token_ok(const httplib::Request &req)
{
	if (S.token.empty())
		return true;
	std::string given;
	if (req.has_param("token"))
		given = req.get_param_value("token");
	auto a = req.headers.find("Authorization");
	if (given.empty() && a != req.headers.end() && a->second.rfind("Bearer ", 0) == 0)
		given = a->second.substr(7);
	// Every byte compared, whatever the first difference.
	unsigned diff = given.size() != S.token.size();
	for (size_t i = 0; i < given.size() && i < S.token.size(); i++)
		diff |= (unsigned)(given[i] ^ S.token[i]);
	return diff == 0;
}

static void no_cache(httplib::Response &res)
{
	res.set_header("Cache-Control", "no-store");
	res.set_header("X-Content-Type-Options", "nosniff");
}

// ---------------------------------------------------------------- connections
//
// cpp-httplib reads a request's head line by line with a timeout on each
// read and no bound on the number of lines, and queues accepted
// connections without limit.  So the server below gives it its own stream
// over each socket, which counts the head as it is served and closes it at
// max_head_bytes, max_headers lines or head_deadline_s, and its own pool,
// which refuses a connection with 503 when max_waiting already wait.

constexpr size_t max_head_bytes = 16384;  // a request line and its headers, at most
constexpr int head_deadline_s = 5;        // to send a whole head, from its first byte
constexpr size_t max_waiting = 64;        // accepted connections waiting for a thread

static thread_local bool refusing;  // set on the accepting thread while it refuses one

class Connection : public httplib::Stream
{
      public:
	explicit Connection(int sock) : sock_(sock) {}

	// A new request starts: its head is counted from here.
	void begin_request()
	{
		in_head_ = true;
		head_bytes_ = 0;
		lines_ = 0;
		blank_run_ = 0;
		answered_ = false;
		deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(head_deadline_s);
	}
	bool head_too_big() const { return too_big_; }
	bool answered() const { return answered_; }

	// Until data comes, or keep-alive ends.
	bool wait_for_request(time_t s) const { return off_ < len_ || wait(POLLIN, (int)s * 1000); }

	bool is_readable() const override { return off_ < len_ || wait(POLLIN, read_wait_ms()); }
	bool is_writable() const override { return wait(POLLOUT, io_timeout_s * 1000); }

	ssize_t read(char *ptr, size_t size) override
	{
		if (too_big_)
			return -1;
		if (off_ == len_) {
			if (!wait(POLLIN, read_wait_ms()))
				return -1;
			ssize_t n;
			do
				n = recv(sock_, buf_, sizeof buf_, 0);
			while (n < 0 && errno == EINTR);
			if (n <= 0)
				return n;
			off_ = 0;
			len_ = (size_t)n;
		}
		size_t n = std::min(size, len_ - off_);
		if (in_head_)
			n = count_head(buf_ + off_, n);
		memcpy(ptr, buf_ + off_, n);
		off_ += n;
		return too_big_ ? -1 : (ssize_t)n;
	}

	ssize_t write(const char *ptr, size_t size) override
	{
		if (!is_writable())
			return -1;
		answered_ = true;
		ssize_t n;
		do
			n = send(sock_, ptr, size, MSG_NOSIGNAL);
		while (n < 0 && errno == EINTR);
		return n;
	}

	void get_remote_ip_and_port(std::string &ip, int &port) const override
	{
		name_of(getpeername, ip, port);
	}
	void get_local_ip_and_port(std::string &ip, int &port) const override
	{
		name_of(getsockname, ip, port);
	}
	int socket() const override { return sock_; }

      private:
	// Counts the head in the n bytes about to be served; returns how many
	// of them to serve (all, unless the head ends or overflows in them).
	size_t count_head(const char *p, size_t n)
	{
		for (size_t i = 0; i < n; i++) {
			if (++head_bytes_ > max_head_bytes) {
				too_big_ = true;
				return i;
			}
			if (p[i] == '\r')
				continue;
			if (p[i] != '\n') {
				blank_run_ = 0;
				continue;
			}
			if (++blank_run_ == 2) {  // an empty line: the head is whole
				in_head_ = false;
				return i + 1;
			}
			if (++lines_ > max_headers + 1) {
				too_big_ = true;
				return i;
			}
		}
		return n;
	}

	int read_wait_ms() const
	{
		if (!in_head_)
			return io_timeout_s * 1000;
		auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
		        deadline_ - std::chrono::steady_clock::now());
		return (int)std::max<int64_t>(0, std::min<int64_t>(left.count(), io_timeout_s * 1000));
	}

	bool wait(short events, int ms) const
	{
		pollfd p = {sock_, events, 0};
		int r;
		do
			r = poll(&p, 1, ms);
		while (r < 0 && errno == EINTR);
		return r > 0 && !(p.revents & POLLNVAL);
	}

	template <typename Name> void name_of(Name call, std::string &ip, int &port) const
	{
		sockaddr_storage a;
		socklen_t len = sizeof a;
		char host[NI_MAXHOST] = "", serv[NI_MAXSERV] = "0";
		if (call(sock_, (sockaddr *)&a, &len) == 0)
			getnameinfo((sockaddr *)&a, len, host, sizeof host, serv, sizeof serv,
			            NI_NUMERICHOST | NI_NUMERICSERV);
		ip = host;
		port = atoi(serv);
	}

	int sock_;
	char buf_[4096];
	size_t off_ = 0, len_ = 0;
	bool in_head_ = false, too_big_ = false, answered_ = false;
	size_t head_bytes_ = 0, lines_ = 0;
	int blank_run_ = 0;
	std::chrono::steady_clock::time_point deadline_;
};

static thread_local Connection *serving;  // the connection this thread serves

static const char too_big[] = "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\n"
                              "Content-Type: text/plain\r\nContent-Length: 24\r\n\r\n"
                              "431 the head is too big\n";

class Server : public httplib::Server
{
      public:
	// The library listens with a backlog of 5: a browser opens six
	// connections at once, so a few viewers arriving together would
	// wait for the kernel's SYN retries.  Room for many more.
	void widen_backlog() { ::listen(svr_sock_, (int)(max_waiting * 2)); }

      private:
	bool process_and_close_socket(int sock) override
	{
		if (refusing) {
			static const char busy[] = "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\n"
			                           "Content-Length: 0\r\n\r\n";
			send(sock, busy, sizeof busy - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
		} else {
			Connection c(sock);
			serving = &c;
			bool closed = false;
			for (size_t n = keep_alive_max_count_; n > 0 && !closed; n--) {
				if (!c.wait_for_request(keep_alive_timeout_sec_))
					break;
				c.begin_request();
				if (!process_request(c, n == 1, closed, nullptr) || c.head_too_big())
					break;
			}
			// A request line too long for the head gets no answer from
			// the library.
			if (c.head_too_big() && !c.answered())
				c.write(too_big, sizeof too_big - 1);
			serving = nullptr;
		}
		shutdown(sock, SHUT_RDWR);
		close(sock);
		return true;
	}
};

// Threads for the connections, and a bounded wait for one.
class Pool : public httplib::TaskQueue
{
      public:
	// The threads share the queue, not the pool: the library deletes its
	// pool if it ever stops listening, and they may still be serving.
	explicit Pool(int threads) : q_(std::make_shared<Queue>())
	{
		for (int i = 0; i < threads; i++)
			std::thread([q = q_] { work(*q); }).detach();
	}

	void enqueue(std::function<void()> fn) override
	{
		{
			std::lock_guard<std::mutex> g(q_->lock);
			if (q_->jobs.size() < max_waiting) {
				q_->jobs.push_back(std::move(fn));
				q_->ready.notify_one();
				return;
			}
		}
		refusing = true;  // answered 503 here, on the accepting thread
		fn();
		refusing = false;
	}
	void shutdown() override {}  // the server runs until the process ends

      private:
	struct Queue {
		std::mutex lock;
		std::condition_variable ready;
		std::deque<std::function<void()>> jobs;
	};

	static void work(Queue &q)
	{
		for (;;) {
			std::function<void()> fn;
			{
				std::unique_lock<std::mutex> g(q.lock);
				q.ready.wait(g, [&q] { return !q.jobs.empty(); });
				fn = std::move(q.jobs.front());
				q.jobs.pop_front();
			}
			fn();
		}
	}

	std::shared_ptr<Queue> q_;
};

// velmora-inspect beside this program over the kept bytes, one run at a
// time (each takes up to a second of CPU on 4 MiB).  No shell: the bytes
// go through a scratch file, the page comes back through a pipe.
static bool inspect_page(const std::vector<uint8_t> &bytes, std::string *page)
{
	static std::mutex &one_at_a_time = *new std::mutex;
	std::lock_guard<std::mutex> g(one_at_a_time);
	std::string tool = S.exe_dir + "/velmora-inspect";
	char in_name[] = "/tmp/velmora-serve-XXXXXX";
	int in = mkstemp(in_name);
	if (in < 0)
		return false;
	bool ok = write_all(in, bytes.data(), bytes.size());
	close(in);
	int out[2];
	if (!ok || pipe2(out, O_CLOEXEC) != 0) {
		unlink(in_name);
		return false;
	}
	posix_spawn_file_actions_t acts;
	posix_spawn_file_actions_init(&acts);
	posix_spawn_file_actions_adddup2(&acts, out[1], STDOUT_FILENO);
	posix_spawn_file_actions_addopen(&acts, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
	char *args[] = {tool.data(), in_name, (char *)"-o", (char *)"-", nullptr};
	pid_t pid = -1;
	ok = posix_spawn(&pid, tool.c_str(), &acts, nullptr, args, environ) == 0;
	posix_spawn_file_actions_destroy(&acts);
	close(out[1]);
	char chunk[65536];
	ssize_t n;
	while (ok && (n = read(out[0], chunk, sizeof chunk)) != 0) {
		if (n > 0)
			page->append(chunk, (size_t)n);
		else if (errno != EINTR)
			break;
	}
	close(out[0]);
	int status = 0;
	if (ok)
		ok = waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) <= 1;
	unlink(in_name);
	return ok;
}

static void routes(httplib::Server &svr, const std::string &page)
{
	svr.set_pre_routing_handler([](const httplib::Request &req, httplib::Response &res) {
		if (!token_ok(req)) {
			res.status = 401;
			res.set_header("WWW-Authenticate", "Bearer");
			res.set_content("401 a token is needed\n", "text/plain");
			return httplib::Server::HandlerResponse::Handled;
		}
		if (req.method != "GET" && req.method != "HEAD") {
			res.status = 405;
			res.set_header("Allow", "GET, HEAD");
			res.set_content("405 read-only\n", "text/plain");
			return httplib::Server::HandlerResponse::Handled;
		}
		no_cache(res);
		return httplib::Server::HandlerResponse::Unhandled;
	});
	svr.set_error_handler(
	        httplib::Server::HandlerWithResponse([](const httplib::Request &, httplib::Response &res) {
		        if (!serving || !serving->head_too_big())
			        return httplib::Server::HandlerResponse::Unhandled;
		        res.status = 431;
		        res.set_header("Connection", "close");
		        res.set_content("431 the head is too big\n", "text/plain");
		        return httplib::Server::HandlerResponse::Handled;
	        }));
	svr.Get("/", [page](const httplib::Request &, httplib::Response &res) {
		res.set_header("Content-Security-Policy",
		               "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
		               "connect-src 'self'; img-src data:");
		res.set_content(page, "text/html; charset=utf-8");
	});
	svr.Get("/frame.json", [](const httplib::Request &, httplib::Response &res) {
		std::string j = json_of(*latest());
		std::lock_guard<std::mutex> g(S.lock);
		j.insert(j.size() - 1, ",\"viewers\":" + std::to_string(S.viewers));
		res.set_content(j + "\n", "application/json");
	});
	svr.Get("/frame.svg", [](const httplib::Request &, httplib::Response &res) {
		std::string out, why;
		picture(*latest(), false, &out, &why);
		res.set_content(out, "image/svg+xml");
	});
	svr.Get("/frame.png", [](const httplib::Request &, httplib::Response &res) {
		std::string out, why;
		if (!picture(*latest(), true, &out, &why)) {
			res.status = 503;
			res.set_content(why + "\n", "text/plain");
			return;
		}
		res.set_content(out, "image/png");
	});
	svr.Get("/capture.bin", [](const httplib::Request &, httplib::Response &res) {
		res.set_header("Content-Disposition", "attachment; filename=\"capture.bin\"");
		res.set_content(kept_bytes(), "application/octet-stream");
	});
	svr.Get("/capture.html", [](const httplib::Request &, httplib::Response &res) {
		std::string kept = kept_bytes();
		std::vector<uint8_t> bytes(kept.begin(), kept.end());
		std::string out;
		if (bytes.empty() || !inspect_page(bytes, &out)) {
			res.status = 503;
			res.set_content("no page: nothing read yet, or velmora-inspect failed\n",
			                "text/plain");
			return;
		}
		res.set_header("Content-Disposition", "attachment; filename=\"capture.html\"");
		res.set_content(out, "text/html; charset=utf-8");
	});
	// The live page's feed: the newest frame whenever there is a newer one
	// than the viewer has, never a queue of them.  A viewer that takes
	// nothing for io_timeout_s fails the write and is dropped.
	svr.Get("/events", [](const httplib::Request &, httplib::Response &res) {
		{
			std::lock_guard<std::mutex> g(S.lock);
			if (S.viewers >= max_viewers) {
				res.status = 503;
				res.set_content("503 too many viewers\n", "text/plain");
				return;
			}
			S.viewers++;
		}
		auto sent = std::make_shared<uint64_t>(0);
		res.set_chunked_content_provider(
		        "text/event-stream",
		        [sent](size_t, httplib::DataSink &sink) {
			        FramePtr f;
			        {
				        std::unique_lock<std::mutex> g(S.lock);
				        S.changed.wait_for(g, std::chrono::seconds(viewer_wait_s), [&] {
					        return S.latest && S.latest->seq != *sent;
				        });
				        if (S.latest && S.latest->seq != *sent)
					        f = S.latest;
			        }
			        if (!f) {
				        static const char beat[] = ":\n\n";
				        return sink.is_writable() && sink.write(beat, sizeof beat - 1);
			        }
			        *sent = f->seq;
			        const std::string &e = event_of(*f);
			        return sink.is_writable() && sink.write(e.data(), e.size());
		        },
		        [](bool) {
			        std::lock_guard<std::mutex> g(S.lock);
			        S.viewers--;
		        });
	});
}

// ---------------------------------------------------------------- start

static bool loopback(const std::string &host)
{
	return host == "127.0.0.1" || host == "::1" || host == "localhost";
}

static bool make_token(std::string *token)
{
	unsigned char raw[token_bytes];
	int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
	bool ok = fd >= 0 && read(fd, raw, sizeof raw) == (ssize_t)sizeof raw;
	if (fd >= 0)
		close(fd);
	for (unsigned char c : raw) {
		char hex[3];
		snprintf(hex, sizeof hex, "%02x", c);
		*token += hex;
	}
	return ok;
}

static int bad_usage(const std::string &what)
{
	return usage_error("velmora-serve", what);
}

int main(int argc, char **argv)
{
	std::string host = "127.0.0.1";
	int port = 8080;
	for (int i = 1; i < argc; i++) {
		std::string arg = argv[i];
		bool sw_value = arg == "--listen" || arg == "--token";
		if (sw_value && i + 1 >= argc)
			return bad_usage("missing value after '" + arg + "'");
		if (arg == "--help" || arg == "-h") {
			return answer("velmora-serve", usage_text);
		} else if (arg == "--version") {
			return answer_version("velmora-serve");
		} else if (arg == "--single") {
			S.sw_double = false;
		} else if (arg == "--listen") {
			std::string v = argv[++i];
			size_t colon = v.rfind(':');
			char *end = nullptr;
			long p = colon == std::string::npos ? -1 : strtol(v.c_str() + colon + 1, &end, 10);
			if (p < 0 || p > 65535 || !end || *end || colon + 1 == v.size() || colon == 0)
				return bad_usage("--listen needs ADDR:PORT, not '" + v + "'");
			host = v.substr(0, colon);
			if (host.size() > 2 && host.front() == '[' && host.back() == ']')
				host = host.substr(1, host.size() - 2);
			port = (int)p;
		} else if (arg == "--token") {
			S.token = argv[++i];
			if (S.token.empty())
				return bad_usage("--token needs a value");
		} else {
			return bad_usage("unknown option '" + arg + "'");
		}
	}
	if (S.token.empty() && !loopback(host) && !make_token(&S.token)) {
		fprintf(stderr, "velmora-serve: cannot make a token: %s\n", strerror(errno));
		return 2;
	}
	char self[4096];
	ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
	if (n > 0) {
		self[n] = '\0';
		S.exe_dir = self;
		S.exe_dir.erase(S.exe_dir.find_last_of('/'));
	}

	// Velmora's texts, and the halt's line kept for the page.
	static cookie_io_functions_t tee = {nullptr, console_write, nullptr, nullptr};
	FILE *console = fopencookie(nullptr, "w", tee);
	if (console)
		stdout = console;
	setvbuf(stdout, nullptr, _IONBF, 0);

	auto *svr = new Server;  // never destroyed: see Shared
	svr->new_task_queue = [] { return new Pool(server_threads); };
	svr->set_read_timeout(io_timeout_s, 0);
	svr->set_write_timeout(io_timeout_s, 0);
	svr->set_keep_alive_timeout(io_timeout_s);
	svr->set_keep_alive_max_count(100);
	svr->set_payload_max_length(max_body);
	// Accepted sockets take the listening socket's buffer size: what a
	// stalled viewer can hold in the kernel stays small.
	svr->set_socket_options([](int sock) {
		httplib::default_socket_options(sock);
		setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &send_buffer, sizeof send_buffer);
	});
	std::string page((const char *)serve_page, serve_page_size);
	std::string map = "{\"kept\":" + std::to_string(max_kept_frames) + ",";
	json_page_map(map);
	page.replace(page.find("/*MAP*/"), 7, map + "}");
	routes(*svr, page);
	int bound = port == 0 ? svr->bind_to_any_port(host) : (svr->bind_to_port(host, port) ? port : -1);
	if (bound < 0) {
		fprintf(stderr, "velmora-serve: cannot listen on %s:%d\n", host.c_str(), port);
		return 2;
	}
	svr->widen_backlog();
	std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
	fprintf(stderr, "velmora-serve: the board's picture at http://%s:%d/%s%s\n", shown.c_str(), bound,
	        S.token.empty() ? "" : "?token=", S.token.c_str());
	publish();  // a white window until the first picture
	std::thread([svr] {
		svr->listen_after_bind();
		fprintf(stderr, "velmora-serve: stopped listening: %s\n", strerror(errno));
	}).detach();
	run_board();
}
