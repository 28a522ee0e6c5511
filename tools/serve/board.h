// velmora-serve's board side: the board read as velmora's own start-up and
// idle loop read it (USB_direct_initialize, capture_open, then
// GetInstruction over and over, asleep on the device between bytes), its
// stream judged byte by byte, and a Frame published wherever velmora's
// window would show a picture (double buffering: at each end of frame;
// single: at a 10 ms tick when the list changed): one pointer swapped under
// a lock, nothing more on the board's side.  Viewers take the newest frame
// when they are ready and skip the rest.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "display/display_list.h"
#include "tools/toolkit/judge.h"

// The stream's health as the board side counts it.
struct BoardHealth {
	Health judged;        // what the judge said of the bytes the framer took
	uint64_t bytes = 0;   // read from the device
	uint64_t frames = 0;  // end-of-frame words
	int32_t longest = 0;  // most records a published list held
};

struct Frame {
	uint64_t number = 0;  // end-of-frame words up to it
	uint64_t seq = 0;     // publications up to it
	bool sw_double = true;
	std::vector<DisplayRecord> list;
	BoardHealth health;
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

// Velmora's console texts go to standard output as they are; the last
// complete line is kept, for the page to show at a halt.  Before anything
// is printed.
void board_console();

// The first frame, a white window until the board's first picture.
// sw_double is the answer to velmora's console question; published is
// called after each publication, on the board's thread.
void board_start(bool sw_double, void (*published)());

// The board read until the process ends.  velmora's halt ("too many
// commands", a device failure) publishes a last frame with the halt's line;
// the board is then read no more, and the server goes on.
[[noreturn]] void run_board();

FramePtr latest_frame();  // the newest frame published

// The last bytes read from the board, at most max_kept_bytes.
constexpr size_t max_kept_bytes = (size_t)4 << 20;
std::string kept_bytes();
