#include "tools/serve/board.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/config.h"
#include "common/file.h"
#include "common/pen.h"
#include "stream/framer.h"
#include "tools/toolkit/halt.h"
#include "usb/capture.h"
#include "usb/usb_link.h"

// Never destroyed: an exit from the board side (no device) must not pull
// them from under the server's threads.
struct Shared {
	std::mutex lock;
	FramePtr latest;
	// The last bytes read, at most max_kept_bytes: a ring, the next byte
	// at written modulo its size.
	std::vector<uint8_t> ring = std::vector<uint8_t>(max_kept_bytes);
	uint64_t written = 0;
};
static Shared &S = *new Shared;

// ---------------------------------------------------------------- publication

static bool sw_double = true;
static void (*on_publish)() = nullptr;
static BoardHealth health;  // the board thread's own; copied into each frame
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
		rate_words = rate_since ? (double)(health.judged.words - rate_words0) / s : 0;
		rate_since = now;
		rate_frames0 = health.frames;
		rate_words0 = health.judged.words;
	}
	f->number = health.frames;
	f->sw_double = sw_double;
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
	if (on_publish)
		on_publish();
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

FramePtr latest_frame()
{
	std::lock_guard<std::mutex> g(S.lock);
	return S.latest;
}

void board_start(bool sw_double_wanted, void (*published_hook)())
{
	sw_double = sw_double_wanted;
	on_publish = published_hook;
	publish();
}

// ---------------------------------------------------------------- the console

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

void board_console()
{
	static cookie_io_functions_t tee = {nullptr, console_write, nullptr, nullptr};
	FILE *console = fopencookie(nullptr, "w", tee);
	if (console)
		stdout = console;
	setvbuf(stdout, nullptr, _IONBF, 0);
}

// ---------------------------------------------------------------- the judge

// The framer's view of each byte, for the health counters: drchar and
// capture_bytes are wrapped at link time (-Wl,--wrap), the stream code
// untouched.  Each byte is judged at the next call, once the framer has
// taken it.
extern "C" uint16_t __real__Z6drcharv();
extern "C" uint16_t __wrap__Z6drcharv();
extern "C" void __real__Z13capture_bytesPKhj(const unsigned char *bytes, uint32_t n);
extern "C" void __wrap__Z13capture_bytesPKhj(const unsigned char *bytes, uint32_t n);

static Judge judge;
static uint64_t offset = 0;                    // of the byte in hand
static uint32_t before_state = state_hunting;  // the framer's state before it
static bool sw_byte_pending = false;
static uint8_t last_byte = 0;
static uint16_t pen_x = 0, pen_y = 0, pen_attr = 0;  // before the word in hand

static void judge_taken()
{
	if (!sw_byte_pending) {
		judge_idle(judge, state);  // the silence may have dropped the framing
		health.judged = judge.health;
		return;
	}
	sw_byte_pending = false;
	if (judge_byte(judge, offset++, last_byte, before_state, state) & seen_word)
		judge_word(judge, judge.word, pen_x, pen_y, pen_attr);
	health.judged = judge.health;
}

extern "C" uint16_t __wrap__Z6drcharv()
{
	judge_taken();
	before_state = state;
	if (state == state_low) {
		pen_x = gx1;
		pen_y = gy1;
		pen_attr = CharacterAttributes;
	}
	uint16_t b = __real__Z6drcharv();
	if (b <= 0xFF) {
		sw_byte_pending = true;
		last_byte = (uint8_t)b;
	}
	return b;
}

extern "C" void __wrap__Z13capture_bytesPKhj(const unsigned char *bytes, uint32_t n)
{
	__real__Z13capture_bytesPKhj(bytes, n);
	health.bytes += n;
	std::lock_guard<std::mutex> g(S.lock);
	for (uint32_t i = 0; i < n;) {
		size_t at = S.written % max_kept_bytes;
		size_t k = std::min<size_t>(n - i, max_kept_bytes - at);
		memcpy(&S.ring[at], bytes + i, k);
		i += (uint32_t)k;
		S.written += k;
	}
}

std::string kept_bytes()
{
	std::lock_guard<std::mutex> g(S.lock);
	size_t n = (size_t)std::min<uint64_t>(S.written, max_kept_bytes);
	size_t from = (size_t)((S.written - n) % max_kept_bytes);
	size_t first = std::min(n, max_kept_bytes - from);
	std::string out;
	out.reserve(n);
	out.append((const char *)&S.ring[from], first);
	out.append((const char *)&S.ring[0], n - first);
	return out;
}

// ---------------------------------------------------------------- the loop

static void read_board()
{
	sw_wait = 0;
	nCommands = 0;
	USB_direct_initialize();
	capture_open();
	printf(sw_double ? "Using double display buffers\n" : "Using single display buffer\n");
	int64_t next_tick = monotonic_ms() + timer_ms;
	for (;;) {
		GetInstruction();
		judge_taken();
		if (sw_wait) {
			// A pass would draw up to this end of frame and release the framer.
			health.frames++;
			if (sw_double)
				publish();
			sw_wait = 0;
		}
		int64_t now = monotonic_ms();
		if (now >= next_tick) {
			capture_tick();
			if (!sw_double && (nCommands != published_count || nClears != published_clears))
				publish();
			refresh(now);
			next_tick = now + timer_ms;
		}
		if (sw_time_up || sw_wait)
			continue;
		usb_wait(-1, (next_tick - now) * 1000);
	}
}

void run_board()
{
	try {
		read_board();
	} catch (const Halt &) {
		// velmora's last line, then the board is read no more; the word
		// that halted the display was taken, and is judged.
		std::string why = console_last;
		printf("close window to exit\n");
		if (nCommands > max_commands)
			say_overflow("velmora-serve", nullptr, bytes_handed_out(),
			             "the board is read no more");
		capture_flush();
		judge_taken();
		halt_line = why;
		publish();
	}
	for (;;)
		pause();
}
