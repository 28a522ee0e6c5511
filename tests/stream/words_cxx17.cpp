// stream/words.h in a C++17 firmware build.
#include "tests/stream/words_c99.c"
