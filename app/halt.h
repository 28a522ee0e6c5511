// Halt: the one failure action short of ending the process.  The caller
// has printed its own line; error_exit prints "close window to exit" and
// then no work of any kind is done again.  In the main loop the window
// stays responsive, so closing it ends the process; before the window
// exists the process waits, asleep, until it is ended.
#pragma once

[[noreturn]] void error_exit();
