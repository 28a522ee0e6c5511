// What every fuzz input starts from: the display program as it is at load,
// and a halt that comes back to the fuzzer instead of stopping the process.
#pragma once

#include <csetjmp>

extern jmp_buf halt_jump;    // error_exit jumps here; set with setjmp before feeding bytes
extern int halts;            // error_exit calls since start
extern void (*halt_hook)();  // called first by error_exit when set; may not return

void reset_program();  // framer, decoder, display list back to their load values
