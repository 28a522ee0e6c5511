#include "tests/doubles/clock_double.h"

#include "stream/framer.h"

int32_t fake_clock_ms = 0;

int32_t clock_ms()
{
	return fake_clock_ms;
}
