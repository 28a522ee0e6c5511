// Recording double of the GL, GLU and GLUT calls the renderer makes:
// linked into a test in place of the real libraries.
#pragma once

#include <string>
#include <vector>

struct GlCall {
	std::string name;
	std::vector<double> args;  // every float argument is exact in a double
};

extern std::vector<GlCall> gl_calls;

// The calls as text, "glVertex2f(-0.960598528,0.962478399)", floats to nine
// significant digits (which fixes a single-precision value exactly).
std::string gl_trace();
