// The display program's halt, in a tool: error_exit (common/platform.h)
// throws Halt, caught where the tool runs the framer.  What the program
// printed before it ("too many commands", "could not read value") is out
// on stdout by then; what the tool does next is its own: the program would
// do nothing more.
#pragma once

struct Halt {
};
