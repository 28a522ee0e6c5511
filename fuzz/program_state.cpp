#include "fuzz/program_state.h"

#include <cstdio>

#include "common/platform.h"
#include "display/display_list.h"
#include "stream/decoder.h"
#include "stream/framer.h"

jmp_buf halt_jump;
int halts = 0;
void (*halt_hook)() = nullptr;

void reset_program()
{
	state = state_hunting;
	instruction = 0;
	start_time = 0;
	myTime = 0;
	sw_wait = 0;
	nCommands = 0;
	current_color = 1;
	gx1 = 0;
	gy1 = 0;
	CharacterAttributes = 0;
}

// The program would stop all work here; the fuzzer ends this input.
void error_exit()
{
	if (halt_hook)
		halt_hook();
	printf("close window to exit\n");
	halts++;
	longjmp(halt_jump, 1);
}
