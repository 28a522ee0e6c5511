#include <ctime>

#include "common/platform.h"

// Monotonic, so the silence timer neither jumps with the wall clock nor
// counts processor time (which is what clock() measures on Linux).
int32_t clock_ms()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	uint64_t ms = (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
	return (int32_t)(uint32_t)ms;
}
