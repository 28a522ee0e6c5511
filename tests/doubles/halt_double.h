// error_exit for the unit tests: counts the halt and throws Halted, so a
// test can see that the code under test stopped where it should.
#pragma once

struct Halted {
};

extern int halt_count;
