// The drawing pass and the projection: the GLUT display and reshape
// callbacks.  Every pass walks the whole display list.
#pragma once

#include <cstdint>

extern int32_t sw_line_started;  // 1 while a line strip is open in the current pass
extern float xstart;             // mapped x of the vertex being issued
extern float ystart;             // mapped y of the vertex being issued

// Plot coordinate v (0..m) to window units: grid point m/2 lands on 0, and
// one unit is m * 0.52 grid steps.  Single/double steps as the GL gets them.
float plot_map(uint16_t v, uint32_t m);

void Display();  // GLUT display callback
// True when a pass could change what the window shows.  With double
// buffering only a pass that swaps at a new end-of-frame record does, and
// such a record sets sw_wait; with single buffering any change of the list
// since the last pass does.  Repaints the window system asks for (expose,
// resize) come through GLUT on their own.
bool PassNeeded(bool sw_double);
void resizeWindow(int32_t width, int32_t height);  // GLUT reshape callback
