// Compiled-in configuration: every tunable of the display program and its
// platform layer, with its unit.  Nothing here is read at run time.
#pragma once

#include <cstdint>

// The link
constexpr uint32_t baud_rate = 1500000;         // bits per second, 8N1 with RTS/CTS
constexpr uint32_t line_rate = baud_rate / 10;  // bytes per second: start, 8 data and stop bits
constexpr uint32_t in_transfer_size = 0x4000;   // USB IN transfer size asked of the device, bytes
constexpr uint32_t out_transfer_size = 0;       // nothing is ever written to the board
constexpr uint32_t read_block = 4096;           // most bytes the reader takes from the device at once

// The window
constexpr uint32_t max_x_plot = 1023;  // width basis of the window, plot steps
constexpr uint32_t max_y_plot = 767;   // height basis of the window, plot steps
constexpr double window_scale = 0.65;  // window pixels per plot step at start
constexpr int32_t window_x = 50;       // window position, pixels from the screen's left edge
constexpr int32_t window_y = 100;      // pixels from the screen's top edge
constexpr int32_t start_width = (int32_t)((double)max_x_plot * window_scale);  // window size at start, pixels
constexpr int32_t start_height = (int32_t)((double)max_y_plot * window_scale);  //

// The main loop
constexpr unsigned timer_ms = 10;             // redisplay period, milliseconds
constexpr int32_t idle_budget_ms = 2;         // longest run of one idle call while bytes keep coming, ms
constexpr uint32_t budget_check_bytes = 256;  // bytes between two looks at the clock in that run
constexpr int halt_wait_ms = 10;              // halted, no X connection to watch: GLUT looked at every, ms
constexpr int32_t silence_seconds = 2;        // whole seconds of silence that must be exceeded to drop sync

// Capture of the received bytes
constexpr uint32_t capture_buffer = 65536;  // bytes gathered before a write
constexpr int64_t capture_flush_ms = 100;   // longest time a received byte waits to be written, ms
constexpr int max_capture_names = 1000;     // names tried, FILE, FILE-2 ... FILE-1000, before giving up

// The display list
constexpr int32_t max_commands = 50000;  // records between two clears
constexpr uint32_t max_x = 1023;         // largest x stored; x range of the mapping
constexpr uint32_t max_y = 1023;         // largest y stored; y range of the mapping

// The virtual board
constexpr uint32_t virtual_queue_size = 16384;   // its receive queue, bytes: about 0.1 s at the line rate
constexpr int virtual_kernel_buffer = 16384;     // pipe or socket buffer asked for its source, bytes
constexpr uint32_t virtual_blocks_per_s = 1000;  // most queue refills a second at a set rate
constexpr uint32_t max_devices = 32;             // devices listed and open at once

static_assert(idle_budget_ms < (int32_t)timer_ms, "an idle call must end well before the next timer");
static_assert(halt_wait_ms <= (int)timer_ms, "a halted program still sees GLUT as often as the timer");
static_assert(start_width == 664 && start_height == 498,
              "the window starts at 664 x 498, as the help texts say");
static_assert(max_x_plot <= max_x && max_y_plot <= max_y, "the window shows only stored coordinates");
static_assert(read_block <= in_transfer_size, "one read never asks for more than one transfer");
static_assert(read_block <= virtual_queue_size, "a full read fits the virtual board's queue");
static_assert(virtual_queue_size + 2 * (uint32_t)virtual_kernel_buffer < line_rate / 2,
              "a writer stays within half a second of line-rate bytes of the display");
