#include "tools/toolkit/halt.h"

#include <cstdio>

#include "common/platform.h"

void error_exit()
{
	fflush(stdout);
	throw Halt{};
}
