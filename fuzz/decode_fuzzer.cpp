// velmora-decode's core over any bytes, in both its modes, with the input
// fed in two pieces so held sync and word bytes cross a boundary.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/program_state.h"
#include "tools/decode/listing.h"
#include "tools/toolkit/halt.h"

static FILE *sink = nullptr;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	sink = fopen("/dev/null", "w");
	if (!sink || !freopen("/dev/null", "w", stdout))
		abort();
	halt_hook = [] { throw Halt{}; };  // back into the listing, as the tool's halt does
	return 0;
}

static void run(const uint8_t *bytes, size_t size, bool sw_records)
{
	reset_program();
	decode_begin(sink, sw_records);
	size_t half = size / 2;
	decode_bytes(bytes, half);
	decode_bytes(bytes + half, size - half);
	decode_end();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// Exact-size copy: ASan sees any read past the end.
	uint8_t *copy = (uint8_t *)malloc(size ? size : 1);
	memcpy(copy, data, size);
	run(copy, size, false);
	run(copy, size, true);
	free(copy);
	return 0;
}
