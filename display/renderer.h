// The drawing pass and the projection: the GLUT display and reshape
// callbacks.  Every pass walks the whole display list.
#pragma once

#include <cstdint>

#include "display/display_list.h"
#include "display/plot_map.h"

extern int32_t sw_line_started;  // 1 while a line strip is open in the current pass
extern float xstart;             // mapped x of the vertex being issued
extern float ystart;             // mapped y of the vertex being issued

void Display();  // GLUT display callback: draw_list over the display list

// One drawing pass over list[0..n-1] (n at most max_commands) into the
// current GL context: cleared to the clear colour, then every record, a
// swap at each end-of-frame record.  *wait is cleared at the first such
// swap, so that the swap is seen to release the framer.
void draw_list(const DisplayRecord *list, int32_t n, int32_t *wait);
// True when a pass could change what the window shows.  With double
// buffering only a pass that swaps at a new end-of-frame record does, and
// such a record sets sw_wait; with single buffering any change of the list
// since the last pass does.  Repaints the window system asks for (expose,
// resize) come through GLUT on their own.
bool PassNeeded(bool sw_double);
void resizeWindow(int32_t width, int32_t height);  // GLUT reshape callback
