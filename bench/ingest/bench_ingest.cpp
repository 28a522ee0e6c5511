// Ingest: the real byte reader (usb/byte_reader.cpp), framer and decoder,
// with the stroker and the display list behind them, over a 16 MiB
// draw-heavy stream served from memory.  The link delivers at most
// 150000 bytes/s; this measures how far above that the program's side is.
#include <cstdio>
#include <cstdlib>

#include <benchmark/benchmark.h>

#include "common/platform.h"
#include "bench/ingest/ingest_source.h"
#include "display/display_list.h"
#include "stream/framer.h"
#include "usb/capture.h"

constexpr size_t stream_bytes = 16u << 20;

// No silence in memory: every empty read is the end of the stream.
int32_t clock_ms()
{
	return 0;
}

void error_exit()
{
	fprintf(stderr, "bench_ingest: halted (%d records): the stream overflows the list\n", (int)nCommands);
	abort();
}

static void BM_Ingest(benchmark::State &st)
{
	static const std::vector<uint8_t> bytes = make_ingest_stream(stream_bytes);
	int64_t frames = 0;
	for (auto _ : st) {
		board_load(bytes.data(), bytes.size());
		// As the program runs it: the idle callback reads until the queue
		// is empty or a frame ends; a drawing pass releases the frame.
		for (;;) {
			GetInstruction();
			if (sw_wait == 0)
				break;
			sw_wait = 0;
			frames++;
		}
		benchmark::DoNotOptimize(nCommands);
	}
	if (board_left() != 0)
		st.SkipWithError("stream not consumed");
	st.SetBytesProcessed((int64_t)st.iterations() * (int64_t)bytes.size());
	st.counters["frames"] = benchmark::Counter((double)frames, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Ingest)->Unit(benchmark::kMillisecond);

// The same with a capture on: every block read is copied to the capture's
// buffer and written out 64 KiB at a time (to VELMORA_CAPTURE, default
// /dev/null, so that the figure is the program's cost, not a disk's).
static void BM_IngestCaptured(benchmark::State &st)
{
	static bool sw_opened = false;
	if (!sw_opened) {
		setenv("VELMORA_CAPTURE", getenv("VELMORA_CAPTURE") ? getenv("VELMORA_CAPTURE") : "/dev/null",
		       1);
		capture_open();
		sw_opened = true;
	}
	BM_Ingest(st);
	capture_flush();
}
BENCHMARK(BM_IngestCaptured)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
