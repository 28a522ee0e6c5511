#include "tests/doubles/halt_double.h"

#include <cstdio>

#include "common/platform.h"

int halt_count = 0;

void error_exit()
{
	printf("close window to exit\n");
	halt_count++;
	throw Halted{};
}
