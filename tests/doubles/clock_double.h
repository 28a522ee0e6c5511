// clock_ms for the unit tests: returns fake_clock_ms, which the test sets.
#pragma once

#include <cstdint>

extern int32_t fake_clock_ms;
