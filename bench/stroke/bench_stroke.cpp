// Characters stroked into the display list per second.  The text is every
// code 32..127 in eight attribute bytes (sizes 1..7, all four rotations, all
// four colours, so colour records come and go), written in lines of 48 from
// a fresh pen position, as a text-heavy picture sends it.  The list is
// cleared whenever another block might not fit; the clear is one store, so
// it stays inside the timing, as it does in the program.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "display/display_list.h"
#include "font/stroker.h"
#include "stream/decoder.h"

namespace
{

struct Char {
	uint16_t ch;
	uint16_t attr;
};

constexpr int line_length = 48;
constexpr int max_records_per_char = 18;

// size | colour << 3 | rotation << 5
const uint16_t attrs[] = {0x0A, 0x0B, 0x13, 0x1C, 0x0F, 0x2A, 0x4D, 0x71};

std::vector<Char> text_mix()
{
	std::vector<Char> text;
	for (uint16_t a : attrs)
		for (uint16_t c = 32; c < 128; c++)
			text.push_back({c, a});
	return text;
}

void reset()
{
	ClearList();
	gx1 = 0;
	gy1 = 0;
	CharacterAttributes = 0;
}

void make_room(size_t chars)
{
	if (nCommands > max_commands - (int32_t)chars * max_records_per_char)
		ClearList();
}

void report(benchmark::State &state, size_t chars_per_iteration)
{
	int64_t chars = state.iterations() * (int64_t)chars_per_iteration;
	state.SetItemsProcessed(chars);
	state.counters["chars_per_second"] = benchmark::Counter((double)chars, benchmark::Counter::kIsRate);
}

// CharacterStroker called directly, the stroker's own cost.
void BM_CharacterStroker(benchmark::State &state)
{
	const std::vector<Char> text = text_mix();
	reset();
	int64_t records = 0;
	for (auto _ : state) {
		make_room(text.size());
		int32_t before = nCommands;
		for (size_t i = 0; i < text.size(); i++) {
			if (i % line_length == 0) {
				gx1 = 40;
				gy1 = 500;
			}
			CharacterStroker(text[i].ch, text[i].attr);
		}
		records += nCommands - before;
		benchmark::ClobberMemory();
	}
	report(state, text.size());
	state.counters["records_per_char"] =
	        (double)records / (double)(state.iterations() * (int64_t)text.size());
}
BENCHMARK(BM_CharacterStroker);

// The same text as instruction words through Parse: a set pair at each line
// start, an attribute word when the attributes change, a character word.
void BM_CharacterWords(benchmark::State &state)
{
	const std::vector<Char> text = text_mix();
	std::vector<uint16_t> words;
	uint16_t attr = 0xFFFF;
	for (size_t i = 0; i < text.size(); i++) {
		if (i % line_length == 0) {
			words.push_back(vw_set_x(40));
			words.push_back(vw_set_y(500));
		}
		if (text[i].attr != attr) {
			attr = text[i].attr;
			words.push_back(vw_attributes(attr));
		}
		words.push_back(vw_character(text[i].ch));
	}
	reset();
	for (auto _ : state) {
		make_room(text.size());
		for (uint16_t w : words)
			Parse(w);
		benchmark::ClobberMemory();
	}
	report(state, text.size());
}
BENCHMARK(BM_CharacterWords);

}  // namespace

BENCHMARK_MAIN();
