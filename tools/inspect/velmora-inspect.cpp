// velmora-inspect: a byte stream as one self-contained HTML page, every
// frame pictured and every stroke linked to the words that drew it.  The
// bytes run through the display program's own framer, decoder, stroker and
// display list, a word or a byte a call; after each word the records it
// appended are copied out with its index.  The page gets the words once and
// every record once, deflated; it builds each frame's list from them (a
// frame is the list from its last clear to its end of frame) and draws it
// with the renderer's own mapping, tabulated here by plot_map: at 1:1 as
// the window's unsmoothed pixels, zoomed as vectors.
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/config.h"
#include "common/pen.h"
#include "common/platform.h"
#include "display/display_list.h"
#include "stream/framer.h"
#include "stream/words.h"
#include "tools/pages/pages.h"
#include "tools/toolkit/cli.h"
#include "tools/toolkit/halt.h"
#include "tools/toolkit/input.h"
#include "tools/toolkit/judge.h"
#include "tools/toolkit/output.h"
#include "tools/toolkit/page_data.h"
#include "tools/toolkit/replay.h"

constexpr size_t max_places = 200;             // positions listed on the page for each kind of event
constexpr size_t max_input = (size_t)1 << 31;  // bytes; word offsets go to the page as 32-bit

static const char usage_text[] =
        "usage: velmora-inspect [-o PAGE.html] STREAM\n"
        "\n"
        "Writes one self-contained HTML page for a Velmora byte stream (STREAM, or\n"
        "standard input when it is \"-\"; a file named *.vel is read as\n"
        "velmora-encode's text form): every frame as the window shows it at its start\n"
        "size (664x498) with double buffering, to step through, zoom and pan; each\n"
        "stroke linked to the words that drew it and each word to its strokes; and\n"
        "the stream's health (sync, dropped bytes, filler, words without meaning,\n"
        "clamped coordinates, pens wrapped below zero, list overflow).  The decoding\n"
        "is the display program's own framer, decoder, stroker and display list.\n"
        "The page needs no network: open it from disk in any current browser.\n"
        "\n"
        "  -o PAGE       write the page to PAGE, through a temporary file (\"-\" is\n"
        "                standard output, not a terminal); default STREAM with .html\n"
        "                in place of its extension\n"
        "  -h, --help    show this text\n"
        "  --version     show the version\n"
        "\n"
        "In the page: left/right step a frame, Home/End the first and last, the\n"
        "wheel zooms, dragging pans.  PAGE.html#frame=N opens frame N (from 1);\n"
        "#frame=N&view=bare shows only its picture at 664x498.\n"
        "\n"
        "Exit status: 0 written; 1 written, but the display list overflows (\"too\n"
        "many commands\": the display would halt there, and the page shows the\n"
        "stream up to that word); 2 bad usage, empty or unreadable input, errors in\n"
        "a .vel file, or the page could not be written.  Messages go to standard\n"
        "error.\n";

static int fail(const std::string &what)
{
	return fail("velmora-inspect", what);
}

// ---------------------------------------------------------------- the run

struct Frame {
	uint32_t list_start;  // first record of its list, counted over the whole run
	uint32_t list_end;    // one past its last record
	uint32_t word_end;    // one past its last word
	int flags;            // frame_unfinished, frame_halted
};
constexpr int frame_unfinished = 1;  // no end of frame: the list as it stands
constexpr int frame_halted = 2;      // the list overflowed in it

struct Places {
	uint64_t count = 0;
	std::vector<uint32_t> at;  // word indexes, or byte offsets for byte events
	void add(uint64_t v)
	{
		if (at.size() < max_places)
			at.push_back((uint32_t)v);
		count++;
	}
};

struct Run {
	std::vector<uint16_t> words;
	std::vector<uint8_t> counts;                         // records each word appended to the list
	std::vector<uint32_t> records;                       // packed by pack()
	std::vector<std::pair<uint16_t, uint16_t>> colours;  // p1 and p2 of each colour record seen
	std::vector<std::pair<uint32_t, uint32_t>>
	        jumps;  // (word, offset) where a word does not follow the last
	std::vector<Frame> frames;
	int64_t sync_at = -1;
	Places dropped;          // byte offsets
	Places out_of_step;      // words whose low byte FF and the next high byte make a pair
	Places filler, ignored;  // words
	Places clamped;          // words with a coordinate above 1023 cut to 1023
	Places wrapped;          // words with a point or the pen below zero, wrapped to 16 bits
	int64_t halt_word = -1;
	int32_t halt_records = 0;
	uint64_t offplot_text = 0;  // records of characters drawn off the plot, in the list as it stands
	std::string halt_cause;     // why the list overflowed, as far as the words tell
	const char *cut_off = "";   // a word or sync pair cut off by the end
};

// True for a character drawn off the plot.
static bool note_word(Run &r, Judge &j, uint16_t w, uint16_t x0, uint16_t y0, uint16_t attr)
{
	size_t i = r.words.size() - 1;
	unsigned said = judge_word(j, w, x0, y0, attr);
	if (said & word_filler)
		r.filler.add(i);
	if (said & word_ignored)
		r.ignored.add(i);
	if (said & word_clamped)
		r.clamped.add(i);
	if (said & word_wrapped)
		r.wrapped.add(i);
	return (said & (word_clamped | word_wrapped)) &&
	       (w & (VW_CONTROL_BIT | VW_CONTROL_OPCODE_MASK)) == (VW_CONTROL_BIT | OP_CHARACTER);
}

// What the judge said of a byte that bears on the page: where the framing
// started, bytes dropped, a word out of step.
static void note_byte(Run &r, const Judge &j, uint64_t offset, unsigned seen)
{
	if (seen & seen_out_of_step)
		r.out_of_step.add(j.step_word);
	switch (seen & seen_kind) {
	case seen_sync:
		r.sync_at = (int64_t)j.sync_at;
		break;
	case seen_dropped:
		r.dropped.add(offset);
		break;
	case seen_dropped_pair:
		r.dropped.add(j.sync_at);
		r.dropped.add(offset);
		break;
	default:
		break;
	}
}

// A record packed for the page, a colour record's colour being its index
// in Run::colours.
static uint32_t pack(Run &r, const DisplayRecord &d)
{
	size_t i = 0;
	if (d.kind == CMD_COLOR) {
		std::pair<uint16_t, uint16_t> c = {d.p1, d.p2};
		while (i < r.colours.size() && r.colours[i] != c)
			i++;
		if (i == r.colours.size())
			r.colours.push_back(c);
	}
	return pack_record(d, (uint32_t)i);
}

// Appends what the last word stored in the list: its new rows, or after a
// clear every row.
static void take_records(Run &r, int32_t before, uint32_t clears_before, uint32_t *list_start)
{
	if (nClears != clears_before) {
		before = 0;
		*list_start = (uint32_t)r.records.size();
	}
	int32_t end = nCommands < max_commands ? nCommands : max_commands;
	int32_t n = end > before ? end - before : 0;
	for (int32_t k = before; k < end; k++) {
		r.records.push_back(pack(r, command[k]));
	}
	r.counts.push_back((uint8_t)n);  // at most 2 for a move, a glyph's strokes for a character
}

// What made the list overflow, told apart by the frames of the list that
// overflowed (those since its last clear): several, so it grew across
// frames without a clear, the commonest cause; or one, too big by itself,
// mostly text run off the plot or not.
static std::string overflow_cause(const Run &r)
{
	const Frame &at_halt = r.frames.back();
	size_t first = r.frames.size() - 1;  // the list's first frame
	while (first > 0 && r.frames[first - 1].list_start == at_halt.list_start)
		first--;
	size_t ended = r.frames.size() - 1 - first;  // frames of the list ended before the halt
	std::string text;
	if (r.offplot_text * 2 > (uint64_t)r.halt_records)
		text = std::to_string(r.offplot_text) +
		       " of the records are characters drawn off the plot (clamped to 1023 or wrapped "
		       "below zero), where they pile up unseen: text that runs off the edge, its pen "
		       "never set back";
	if (ended == 0) {
		std::string one = "one frame too big: frame " + std::to_string(first + 1) +
		                  " has more than " + std::to_string(max_commands) +
		                  " records from its clear on, without an end of frame";
		return text.empty() ? one : one + "; " + text;
	}
	auto size = [&](size_t f) { return r.frames[f].list_end - r.frames[f].list_start; };
	size_t last = first + ended - 1;
	uint32_t grew = ended > 1 ? (size(last) - size(first)) / (uint32_t)(ended - 1) : size(first);
	std::string growth = "no clear since frame " + std::to_string(first + 1) +
	                     "; the list grew by about " + std::to_string(grew) +
	                     " records a frame (each frame is drawn over the ones before it: start "
	                     "every frame with OP_CLEAR)";
	return text.empty() ? growth : growth + "; " + text;
}

// At a word boundary the framer gets the word's two bytes in one call; else
// one byte a call, so that each step of its hunt for sync shows.  The judge
// is shown a word's bytes before the framer takes them, as it may halt in
// the word.
static void feed(const std::vector<uint8_t> &in, Run &r)
{
	r.words.reserve(in.size() / 2);
	r.counts.reserve(in.size() / 2);
	bytes_read = 0;
	Judge judge;
	uint32_t list_start = 0;  // first record, over the run, of the list as it stands
	uint64_t next_word_at = UINT64_MAX;
	for (uint64_t i = 0; i < in.size(); i++) {
		uint32_t before = state;
		size_t n = before == state_high && i + 1 < in.size() ? 2 : 1;
		uint64_t low = i + n - 1;
		int32_t records_before = nCommands;
		uint32_t clears_before = nClears;
		uint16_t x0 = gx1, y0 = gy1, attr = CharacterAttributes;
		bool sw_word = before == state_low || n == 2;
		if (sw_word) {
			if (n == 2)
				note_byte(r, judge, i, judge_byte(judge, i, in[i], state_high, state_low));
			note_byte(r, judge, low, judge_byte(judge, low, in[low], state_low, state_high));
			if (judge.word_at != next_word_at)
				r.jumps.push_back({(uint32_t)r.words.size(), (uint32_t)judge.word_at});
			next_word_at = judge.word_at + 2;
			r.words.push_back(judge.word);
		}
		source_give(&in[i], n);
		try {
			GetInstruction();
		} catch (const Halt &) {
			// The word that overflowed: its stored rows, its frame halted.
			r.halt_word = (int64_t)r.words.size() - 1;
			r.halt_records = nCommands;
			take_records(r, records_before, nClears, &list_start);
			if (note_word(r, judge, judge.word, x0, y0, attr))
				r.offplot_text += r.counts.back();
			r.frames.push_back({list_start, (uint32_t)r.records.size(), (uint32_t)r.words.size(),
			                    frame_unfinished | frame_halted});
			r.halt_cause = overflow_cause(r);
			return;
		}
		i = low;
		if (!sw_word) {
			note_byte(r, judge, i, judge_byte(judge, i, in[i], before, state));
			continue;
		}
		take_records(r, records_before, clears_before, &list_start);
		if (nClears != clears_before)
			r.offplot_text = 0;
		if (note_word(r, judge, judge.word, x0, y0, attr))
			r.offplot_text += r.counts.back();
		if (sw_wait != 0) {
			// A drawing pass would present the list here and release the framer.
			sw_wait = 0;
			r.frames.push_back(
			        {list_start, (uint32_t)r.records.size(), (uint32_t)r.words.size(), 0});
		}
	}
	if (judge_end(judge))
		r.out_of_step.add(judge.step_word);
	if (state == state_half_sync)
		r.cut_off = "sync";
	else if (state == state_low)
		r.cut_off = "word";
	uint32_t done = r.frames.empty() ? 0 : r.frames.back().word_end;
	if (r.words.size() > done)
		r.frames.push_back(
		        {list_start, (uint32_t)r.records.size(), (uint32_t)r.words.size(), frame_unfinished});
}

// ---------------------------------------------------------------- the page

// Appends the i-th item of a JSON array.
static void item(std::string &out, size_t i, const std::string &v)
{
	if (i > 0)
		out += ',';
	out += v;
}

static void json_places(std::string &out, const char *name, const Places &p)
{
	out += ",\"";
	out += name;
	out += "\":{\"count\":" + std::to_string(p.count) + ",\"at\":[";
	for (size_t i = 0; i < p.at.size(); i++)
		item(out, i, std::to_string(p.at[i]));
	out += "]}";
}

static std::string meta_json(const Run &r, const std::string &name, uint64_t size)
{
	std::string o = "{\"version\":\"" VELMORA_VERSION "\",\"name\":";
	json_string(o, name);
	o += ",\"bytes\":" + std::to_string(size);
	o += ",\"words\":" + std::to_string(r.words.size());
	o += ",\"records\":" + std::to_string(r.records.size());
	o += ",\"maxCommands\":" + std::to_string(max_commands);
	o += ",\"colours\":[";
	for (size_t i = 0; i < r.colours.size(); i++)
		item(o, i,
		     "[" + std::to_string(r.colours[i].first) + "," + std::to_string(r.colours[i].second) +
		             "]");
	o += "]";
	o += ",\"syncAt\":" + std::to_string(r.sync_at);
	o += ",\"cutOff\":\"" + std::string(r.cut_off) + "\"";
	o += ",\"haltWord\":" + std::to_string(r.halt_word);
	o += ",\"haltRecords\":" + std::to_string(r.halt_records);
	o += ",\"haltCause\":";
	json_string(o, r.halt_cause);
	json_places(o, "dropped", r.dropped);
	json_places(o, "outOfStep", r.out_of_step);
	json_places(o, "filler", r.filler);
	json_places(o, "ignored", r.ignored);
	json_places(o, "clamped", r.clamped);
	json_places(o, "wrapped", r.wrapped);
	o += ",\"jumps\":[";
	for (size_t i = 0; i < r.jumps.size(); i++)
		item(o, i,
		     "[" + std::to_string(r.jumps[i].first) + "," + std::to_string(r.jumps[i].second) + "]");
	o += "],\"frames\":[";
	for (size_t i = 0; i < r.frames.size(); i++) {
		const Frame &f = r.frames[i];
		item(o, i,
		     "[" + std::to_string(f.list_start) + "," + std::to_string(f.list_end) + "," +
		             std::to_string(f.word_end) + "," + std::to_string(f.flags) + "]");
	}
	o += "],";
	json_page_map(o);
	o += "}";
	return o;
}

static bool blob_base64(const Run &r, std::string *out, std::string *why)
{
	std::vector<uint8_t> raw;
	raw.reserve(r.records.size() * 4 + r.words.size() * 3);
	// Widest first, so that each array starts at a multiple of its size.
	put_le(raw, r.records);
	put_le(raw, r.words);
	put_le(raw, r.counts);
	uLongf packed_size = compressBound((uLong)raw.size());
	std::vector<uint8_t> packed(packed_size);
	if (compress2(packed.data(), &packed_size, raw.data(), (uLong)raw.size(), 1) != Z_OK) {
		*why = "cannot deflate the page's data";
		return false;
	}
	*out = base64(packed.data(), packed_size);
	return true;
}

// The page with the run's data in it.  A page is made to be shared: it
// names its input by the file's name alone, not by the folders it was found
// in.
static bool make_page(const Run &r, const std::string &name, uint64_t size, std::string *page,
                      std::string *why)
{
	std::string blob;
	if (!blob_base64(r, &blob, why))
		return false;
	std::string shown =
	        name.substr(name.find_last_of('/') == std::string::npos ? 0 : name.find_last_of('/') + 1);
	std::string meta = meta_json(r, shown, size);
	// The blob first: the name in the metadata may hold anything.
	const std::string meta_mark = "/*META*/", blob_mark = "/*BLOB*/";
	page->assign((const char *)inspect_page, inspect_page_size);
	page->replace(page->find(blob_mark), blob_mark.size(), blob);
	page->replace(page->find(meta_mark), meta_mark.size(), meta);
	return true;
}

int main(int argc, char **argv)
{
	const char *path = nullptr;
	const char *out_path = nullptr;
	const CommandLine command_line = {
	        .tool = "velmora-inspect",
	        .usage = usage_text,
	        .options = {value_option("-o", nullptr, "PAGE", nullptr, &out_path)},
	        .sw_input = true};
	if (int status = read_command_line(command_line, argc, argv, &path); status >= 0)
		return status;
	if (!path)
		return usage_error("velmora-inspect",
		                   "no input: give a STREAM file, or - for standard input");
	std::string name = strcmp(path, "-") == 0 ? "standard input" : path;
	std::string page_path;
	if (out_path) {
		page_path = out_path;
	} else if (strcmp(path, "-") == 0) {
		return usage_error("velmora-inspect", "reading standard input: give -o PAGE");
	} else {
		page_path = path;
		size_t dot = page_path.find_last_of('.');
		size_t slash = page_path.find_last_of('/');
		if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
			page_path.erase(dot);
		page_path += ".html";
	}

	// Standard output carries the page or nothing.
	int out_fd;
	std::string why;
	if (!set_aside_stdout(page_path == "-", "page", &out_fd, &why))
		return fail(why);

	Input in;
	std::vector<uint8_t> bytes;
	if (!open_input(&in, "velmora-inspect", path,
	                {.sw_vel = true, .sw_quote = false, .stdin_name = "-"}) ||
	    (!in.sw_vel && !read_whole(&in, &bytes, max_input)))
		return 2;
	if (in.sw_vel)
		bytes = std::move(in.vel);
	if (bytes.size() > max_input)
		return fail(name + ": more than 2 GiB; cut out the part to inspect");
	if (bytes.empty())
		return fail(name + " is empty: there is nothing to inspect");

	Run r;
	feed(bytes, r);

	std::string page;
	if (!make_page(r, name, bytes.size(), &page, &why))
		return fail(why);
	if (!write_output(out_fd, page_path.c_str(), page.data(), page.size(), &why))
		return fail("cannot write the page: " + why);

	if (r.halt_word >= 0) {
		say_overflow("velmora-inspect", name.c_str(), bytes_read,
		             "the display would halt there; the page shows the stream up to it");
		fprintf(stderr, "velmora-inspect: %s: %s\n", name.c_str(), r.halt_cause.c_str());
		return 1;
	}
	if (r.sync_at < 0)
		fprintf(stderr, "velmora-inspect: %s: no sync pair in %zu bytes: the display draws nothing\n",
		        name.c_str(), bytes.size());
	else if (r.frames.size() == 1 && (r.frames[0].flags & frame_unfinished))
		fprintf(stderr, "velmora-inspect: %s: no end of frame: one unfinished frame\n", name.c_str());
	return 0;
}
