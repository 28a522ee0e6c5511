// Start-up and the timer.  main() runs the start-up in its fixed order and
// then lives in the GLUT event loop.
#pragma once

#include <cstdint>
#include <vector>

#include "common/config.h"

constexpr unsigned display_mode_double = 18;  // GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH
constexpr unsigned display_mode_single = 16;  // GLUT_RGB | GLUT_SINGLE | GLUT_DEPTH

extern int32_t window_width;   // 664: max_x_plot * 0.65, truncated
extern int32_t window_height;  // 498: max_y_plot * 0.65, truncated

// Set just before the event loop starts; tells halt how to wait.
extern int32_t sw_main_loop;
// Set by halt; the timer then stops re-arming itself.
extern int32_t sw_halted;
// 1 while nobody can see the window (unmapped or fully covered), when GLUT
// runs no pass: the timer then releases waiting frames itself.
extern int32_t sw_hidden;
// GLUT elapsed time (ms) at which myTimer runs next; the idle sleep ends there.
extern int32_t timer_deadline;
// 1 when the last tick found nothing to draw: a frame that ends before the
// next tick is drawn at once, as it would have been at that tick.
extern int32_t sw_tick_owed;

void meInit();
// Asks for a pass only when one can change what the window shows.
void myTimer(int value);
// Idle callback: GetInstruction, then a sleep until the device, the window
// system or the timer has something.
void myIdle();
void myWindowStatus(int status);
// Keyboard callback: s saves the window as PNG and the list as SVG; i
// shows or hides the overlay.
void myKeyboard(unsigned char key, int x, int y);

// The overlay (app/overlay.cpp), off at start and never in a saved picture.
void overlay_key();     // i: shows or hides it
void overlay_watch();   // after every GetInstruction: notes sync found or lost
void overlay_tick();    // every timer tick: counts the rates, redraws it when shown
void overlay_halted();  // at a halt in the main loop: says why
// With the overlay shown, puts back into a picture of the window (rows from
// the top, 3 bytes a pixel) the pixels it covers.
void overlay_patch(std::vector<uint8_t> *rgb, int32_t width, int32_t height);
// The answer to the buffering question: true for double buffering.
extern bool sw_double;

// The window system's side (app/window_x11.cpp, app/window_win32.cpp).
// First in main: the console as the program's texts need it.
void platform_start();
// Just after glutCreateWindow, its context current: the window is kept and
// its background made white.
void window_created();
// False once the window has been destroyed, from outside the program.
bool window_exists();
// Ends the program as closing the window does (exit status 0, the capture
// flushed), for a window destroyed from outside.
[[noreturn]] void window_gone();

// A descriptor that is readable when the window system has events, -1
// when there is none (on Windows, where the device's wait watches the
// window's messages itself).
int window_connection();
// Events there already, which a wait would not report.
bool window_events_pending();
// Returns when the window system has an event or timeout_us microseconds
// have passed; a negative timeout waits for the event alone.
void wait_for_window(int64_t timeout_us);
// Microseconds until GLUT runs the timer, at timer_deadline.
int64_t us_until_timer();
// Sleeps until the process is ended from outside; for a halt before the
// window exists.
[[noreturn]] void wait_until_ended();
