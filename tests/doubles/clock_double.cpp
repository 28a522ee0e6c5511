#include "tests/doubles/clock_double.h"

#include "common/platform.h"

int32_t fake_clock_ms = 0;

int32_t clock_ms()
{
	return fake_clock_ms;
}
