#include "tools/serve/routes.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/file.h"
#include "picture/picture.h"
#include "tools/pages/pages.h"
#include "tools/serve/board.h"
#include "tools/toolkit/offscreen.h"
#include "tools/toolkit/page_data.h"

constexpr size_t max_kept_frames = 64;  // frames the live page keeps to step back through

static std::string exe_dir;  // where velmora-inspect is looked for

static std::mutex &render_lock = *new std::mutex;  // one off-screen pass at a time

// ---------------------------------------------------------------- what viewers get

static std::string frame_json(const Frame &f)
{
	const Health &h = f.health.judged;
	char text[800];
	snprintf(text, sizeof text,
	         "{\"frame\":%llu,\"seq\":%llu,\"at\":%.3f,\"double\":%s,\"framesPerSecond\":%.1f,"
	         "\"wordsPerSecond\":%.0f,"
	         "\"records\":%zu,\"health\":{\"bytes\":%llu,\"words\":%llu,\"frames\":%llu,\"dropped\":%llu,"
	         "\"syncs\":%llu,\"syncLost\":%llu,\"filler\":%llu,\"ignored\":%llu,\"clamped\":%llu,"
	         "\"wrapped\":%llu,\"outOfStep\":%llu,\"longest\":%d,"
	         "\"maxCommands\":%d},\"refresh\":%s,\"halt\":",
	         (unsigned long long)f.number, (unsigned long long)f.seq, f.at_ms,
	         f.sw_double ? "true" : "false", f.rate_frames, f.rate_words, f.list.size(),
	         (unsigned long long)f.health.bytes, (unsigned long long)h.words,
	         (unsigned long long)f.health.frames, (unsigned long long)h.dropped,
	         (unsigned long long)h.syncs, (unsigned long long)h.sync_lost, (unsigned long long)h.filler,
	         (unsigned long long)h.ignored, (unsigned long long)h.clamped, (unsigned long long)h.wrapped,
	         (unsigned long long)h.out_of_step, (int)f.health.longest, (int)max_commands,
	         f.refresh ? "true" : "false");
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

// A colour record's colour as the live page reads it: blue in bits 7-0,
// green 15-8 and red 23-16.
static uint32_t colour_rgb(const DisplayRecord &d)
{
	return (uint32_t)(d.p2 & 0xFF) << 16 | (uint32_t)(d.p2 >> 8) << 8 | (d.p1 & 0xFF);
}

// One server-sent event: the frame's JSON with its records, little-endian.
static const std::string &event_of(Frame &f)
{
	std::call_once(f.event_once, [&] {
		std::vector<uint32_t> packed;
		packed.reserve(f.list.size());
		for (const DisplayRecord &d : f.list)
			packed.push_back(pack_record(d, colour_rgb(d)));
		std::vector<uint8_t> raw;
		put_le(raw, packed);
		std::string j = json_of(f);
		j.pop_back();
		f.event = "data: " + j + ",\"list\":\"" + base64(raw.data(), raw.size()) + "\"}\n\n";
	});
	return f.event;
}

// The frame's picture, drawn once from its own copy of the list.
static bool picture(Frame &f, bool sw_png, std::string *out, std::string *why)
{
	std::lock_guard<std::mutex> g(f.picture_lock);
	if (!f.sw_png_made) {
		std::lock_guard<std::mutex> r(render_lock);
		int32_t n = (int32_t)f.list.size();
		f.svg = list_svg(f.list.data(), n, page_width, page_height, f.sw_double);
		std::vector<uint8_t> rgb;
		if (offscreen_pass(f.list.data(), n, page_width, page_height, f.sw_double, &rgb,
		                   &f.picture_why))
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
	std::string tool = exe_dir + "/velmora-inspect";
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
	FramePtr f = latest_frame();
	if (!f || f->seq == *sent)
		return nullptr;
	*sent = f->seq;
	return std::shared_ptr<const std::string>(f, &event_of(*f));
}

static const char busy[] = "503 busy: try again\n";

static Answer frame_json_answer()
{
	std::string j = json_of(*latest_frame());
	j.insert(j.size() - 1, ",\"viewers\":" + std::to_string(http_feeds()));
	return reply("application/json", j + "\n");
}

static Answer frame_svg_answer()
{
	std::string out, why;
	picture(*latest_frame(), false, &out, &why);
	return reply("image/svg+xml", out);
}

static Answer frame_png_answer()
{
	std::string out, why;
	if (!picture(*latest_frame(), true, &out, &why))
		return text_answer(503, why + "\n");
	return reply("image/png", out);
}

// The whole of the kept bytes, never a range of them: they move with every
// read, so a range asked for later names other bytes.
static Answer capture_bin_answer()
{
	std::shared_ptr<void> hold = take_copy();
	if (!hold)
		return text_answer(503, busy);
	Answer a = reply("application/octet-stream", kept_bytes());
	a.headers.emplace_back("Content-Disposition", "attachment; filename=\"capture.bin\"");
	a.headers.emplace_back("Accept-Ranges", "none");
	a.hold = hold;
	return a;
}

static Answer capture_html_answer()
{
	std::shared_ptr<void> hold = take_copy();
	if (!hold)
		return text_answer(503, busy);
	std::string kept = kept_bytes(), out;
	if (kept.empty() || !inspect_capture(kept, &out))
		return text_answer(503, "no page: nothing read yet, or velmora-inspect failed\n");
	Answer a = reply("text/html; charset=utf-8", std::move(out));
	a.headers.emplace_back("Content-Disposition", "attachment; filename=\"capture.html\"");
	a.hold = hold;
	return a;
}

std::vector<Route> serve_routes(const std::string &tools_dir)
{
	exe_dir = tools_dir;
	std::string page((const char *)serve_page, serve_page_size);
	std::string map = "{\"kept\":" + std::to_string(max_kept_frames) + ",";
	json_page_map(map);
	page.replace(page.find("/*MAP*/"), 7, map + "}");
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
	        {"/frame.json", Route::now, frame_json_answer, nullptr},
	        {"/frame.svg", Route::apart, frame_svg_answer, nullptr},
	        {"/frame.png", Route::apart, frame_png_answer, nullptr},
	        {"/capture.bin", Route::now, capture_bin_answer, nullptr},
	        {"/capture.html", Route::apart, capture_html_answer, nullptr},
	        {"/events", Route::feed, nullptr, next_event},
	};
}
