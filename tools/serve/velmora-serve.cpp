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
// from the viewers' copy of the list (tools/view.h).  The HTTP side is
// tools/http_server, over GNU libmicrohttpd.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/config.h"
#include "common/pen.h"
#include "common/platform.h"
#include "display/display_list.h"
#include "display/renderer.h"
#include "picture/picture.h"
#include "stream/framer.h"
#include "stream/words.h"
#include "tools/toolkit/cli.h"
#include "tools/toolkit/judge.h"
#include "tools/serve/http_server.h"
#include "tools/toolkit/page_data.h"
#include "tools/pages/pages.h"
#include "tools/serve/view.h"
#include "usb/capture.h"
#include "usb/usb_link.h"

constexpr size_t max_kept_frames = 64;              // frames the live page keeps to step back through
constexpr size_t max_kept_bytes = (size_t)4 << 20;  // /capture.bin: the last bytes read, at most
constexpr size_t token_bytes = 16;                  // random bytes of a generated token

static const char usage_text[] =
        "usage: velmora-serve [--listen ADDR:PORT] [--single] [--token TOKEN] [--allow-host NAME]...\n"
        "\n"
        "Reads a board as velmora does, with no window and no X server, and serves\n"
        "its picture to browsers.  The console shows velmora's own start-up listing\n"
        "and halt texts; VELMORA_SERIAL, VELMORA_CAPTURE and the virtual board\n"
        "(VELMORA_BOARD...) work as for velmora (see velmora --help).\n"
        "\n"
        "  --listen ADDR:PORT  where to listen (default 127.0.0.1:8080; port 0 picks\n"
        "                      a free one).  Unless the address bound is a loopback\n"
        "                      address, a token is needed: one is made up and\n"
        "                      printed unless given\n"
        "  --token TOKEN       every request must carry it: ?token=TOKEN in the\n"
        "                      address, or the header Authorization: Bearer TOKEN;\n"
        "                      without it the answer is 401.  At least 16 characters\n"
        "  --allow-host NAME   answer to NAME too (as many times as needed).  A\n"
        "                      request must name this server: an address, localhost,\n"
        "                      NAME.localhost or this machine's host name; any other\n"
        "                      name, as a page on another site would use, gets 403\n"
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
	FramePtr latest;
	// The last bytes read, at most max_kept_bytes: a ring, the next byte
	// at written modulo its size.
	std::vector<uint8_t> ring = std::vector<uint8_t>(max_kept_bytes);
	uint64_t written = 0;
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
	http_wake_feeds();
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
	if (nCommands > max_commands)
		say_overflow("velmora-serve", nullptr, bytes_handed_out(), "the board is read no more");
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
	std::lock_guard<std::mutex> g(S.lock);
	for (uint32_t i = 0; i < n;) {
		size_t at = S.written % max_kept_bytes;
		size_t k = std::min<size_t>(n - i, max_kept_bytes - at);
		memcpy(&S.ring[at], bytes + i, k);
		i += (uint32_t)k;
		S.written += k;
	}
}

static std::string kept_bytes()
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

// velmora-inspect beside this program over the kept bytes, one run at a
// time (each takes up to a second of CPU on 4 MiB).  No shell: the bytes
// go through a scratch file, the page comes back through a pipe.
static bool inspect_capture(const std::string &bytes, std::string *page)
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

// ---------------------------------------------------------------- the addresses

// /capture.bin and /capture.html hold a copy of the kept bytes each until
// it is sent: a few at once.
constexpr int max_copies = 4;
static std::atomic<int> copies{0};

static std::shared_ptr<void> take_copy()
{
	if (copies.fetch_add(1) >= max_copies) {
		copies--;
		return nullptr;
	}
	return std::shared_ptr<int>(new int, [](int *p) {
		delete p;
		copies--;
	});
}

static Answer reply(const char *type, std::string body)
{
	Answer a;
	a.type = type;
	a.body = std::move(body);
	return a;
}

// The live page's feed: the newest frame whenever there is a newer one than
// the viewer has, never a queue of them.
static std::shared_ptr<const std::string> next_event(uint64_t *sent)
{
	FramePtr f = latest();
	if (!f || f->seq == *sent)
		return nullptr;
	*sent = f->seq;
	return std::shared_ptr<const std::string>(f, &event_of(*f));
}

static std::vector<Route> routes(const std::string &page)
{
	static const char busy[] = "503 busy: try again\n";
	return {
	        {"/", Route::now,
	         [page] {
		         Answer a = reply("text/html; charset=utf-8", page);
		         a.headers.emplace_back("Content-Security-Policy",
		                                "default-src 'none'; script-src 'unsafe-inline'; style-src "
		                                "'unsafe-inline'; connect-src 'self'; img-src data:");
		         return a;
	         },
	         nullptr},
	        {"/frame.json", Route::now,
	         [] {
		         std::string j = json_of(*latest());
		         j.insert(j.size() - 1, ",\"viewers\":" + std::to_string(http_feeds()));
		         return reply("application/json", j + "\n");
	         },
	         nullptr},
	        {"/frame.svg", Route::apart,
	         [] {
		         std::string out, why;
		         picture(*latest(), false, &out, &why);
		         return reply("image/svg+xml", out);
	         },
	         nullptr},
	        {"/frame.png", Route::apart,
	         [] {
		         std::string out, why;
		         if (!picture(*latest(), true, &out, &why))
			         return text_answer(503, why + "\n");
		         return reply("image/png", out);
	         },
	         nullptr},
	        // The whole of the kept bytes, never a range of them: they move
	        // with every read, so a range asked for later names other bytes.
	        {"/capture.bin", Route::now,
	         [] {
		         std::shared_ptr<void> hold = take_copy();
		         if (!hold)
			         return text_answer(503, busy);
		         Answer a = reply("application/octet-stream", kept_bytes());
		         a.headers.emplace_back("Content-Disposition",
		                                "attachment; filename=\"capture.bin\"");
		         a.headers.emplace_back("Accept-Ranges", "none");
		         a.hold = hold;
		         return a;
	         },
	         nullptr},
	        {"/capture.html", Route::apart,
	         [] {
		         std::shared_ptr<void> hold = take_copy();
		         if (!hold)
			         return text_answer(503, busy);
		         std::string kept = kept_bytes(), out;
		         if (kept.empty() || !inspect_capture(kept, &out))
			         return text_answer(503,
			                            "no page: nothing read yet, or velmora-inspect failed\n");
		         Answer a = reply("text/html; charset=utf-8", std::move(out));
		         a.headers.emplace_back("Content-Disposition",
		                                "attachment; filename=\"capture.html\"");
		         a.hold = hold;
		         return a;
	         },
	         nullptr},
	        {"/events", Route::feed, nullptr, next_event},
	};
}

// ---------------------------------------------------------------- start

constexpr size_t min_token = 16;  // characters of a token given

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
	HttpSetup setup;
	for (int i = 1; i < argc; i++) {
		std::string arg = argv[i];
		bool sw_value = arg == "--listen" || arg == "--token" || arg == "--allow-host";
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
			setup.token = argv[++i];
			if (setup.token.size() < min_token)
				return bad_usage("--token needs at least " + std::to_string(min_token) +
				                 " characters, not " + std::to_string(setup.token.size()) +
				                 "; leave it out and one is made up");
		} else if (arg == "--allow-host") {
			std::string name = argv[++i];
			for (char &ch : name)
				ch = (char)tolower((unsigned char)ch);
			if (name.empty() || name.find_first_of(":/ ") != std::string::npos)
				return bad_usage("--allow-host needs a host name, not '" +
				                 std::string(argv[i]) + "'");
			setup.allowed_hosts.push_back(name);
		} else {
			return bad_usage("unknown option '" + arg + "'");
		}
	}
	int bound = 0;
	bool loopback = false;
	std::string why;
	int sock = http_listen(host, port, &bound, &loopback, &why);
	if (sock < 0) {
		fprintf(stderr, "velmora-serve: cannot listen on %s:%d: %s\n", host.c_str(), port,
		        why.c_str());
		return 2;
	}
	// Only an address that is loopback once bound goes without a token.
	if (setup.token.empty() && !loopback && !make_token(&setup.token)) {
		fprintf(stderr, "velmora-serve: cannot make a token: %s\n", strerror(errno));
		return 2;
	}
	std::string token = setup.token;
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

	std::string page((const char *)serve_page, serve_page_size);
	std::string map = "{\"kept\":" + std::to_string(max_kept_frames) + ",";
	json_page_map(map);
	page.replace(page.find("/*MAP*/"), 7, map + "}");
	setup.routes = routes(page);
	publish();  // a white window until the first picture
	if (!http_start(sock, std::move(setup), &why)) {
		fprintf(stderr, "velmora-serve: %s\n", why.c_str());
		return 2;
	}
	std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
	fprintf(stderr, "velmora-serve: the board's picture at http://%s:%d/%s%s\n", shown.c_str(), bound,
	        token.empty() ? "" : "?token=", token.c_str());
	run_board();
}
