#include "stream/encode.h"

#include <optional>

#include "stream/words.h"

namespace
{

enum class Kind { word, character, string, effect };

struct Token {
	Kind kind;
	std::string_view text;  // as written: quotes and brackets included
	int column;             // from 1
	std::string bytes;      // a string's or a character's value
};

// An error ends the work on its line; the next line is parsed afresh.
struct LineError {
	int column;
	std::string message;
};

struct Line {
	std::vector<Token> tokens;
	size_t next = 0;     // the first token not yet taken
	int end_column = 1;  // just after the last token: where a missing operand is reported
};

// What one line stands for.
struct Statement {
	std::vector<uint8_t> bytes;
	bool drawing = false;  // instruction words, which the display drops before a sync
	int column = 1;
};

// velmora-decode's columns before the mnemonic: a decimal offset (not
// checked), up to two bytes and the hex word.  They give the bits of a word
// that its mnemonic and operands do not show.
struct Columns {
	std::vector<uint8_t> bytes;
	std::optional<uint16_t> word;  // the word column, else the two bytes
};

struct GraphicsOp {
	const char *name;
	unsigned opcode;
	const char *axis;
	bool coloured;  // a move: the colour bits are its operand
};

}  // namespace

static const GraphicsOp graphics_ops[] = {
        {"OP_SET_X", OP_SET_X, "x", false},   {"OP_SET_Y", OP_SET_Y, "y", false},
        {"OP_MOVE_X", OP_MOVE_X, "x", true},  {"OP_MOVE_Y", OP_MOVE_Y, "y", true},
        {"OP_DRAW_X", OP_DRAW_X, "x", false}, {"OP_DRAW_Y", OP_DRAW_Y, "y", false},
};

static const char *const colour_names[4] = {"white", "red", "blue", "black"};

constexpr unsigned max_coordinate = VW_VALUE_MASK;
constexpr uint64_t number_cap = 1ull << 40;  // saturates: any bigger number is out of range anyway
constexpr size_t max_shown = 40;             // characters of a token quoted in a message

static bool blank(char c)
{
	return c == ' ' || c == '\t';
}

static int digit(char c, unsigned base)
{
	int d = c >= '0' && c <= '9'   ? c - '0'
	        : c >= 'a' && c <= 'f' ? c - 'a' + 10
	        : c >= 'A' && c <= 'F' ? c - 'A' + 10
	                               : 99;
	return d < (int)base ? d : -1;
}

static std::string hex(unsigned v, int width)
{
	static const char hexdigits[] = "0123456789ABCDEF";
	std::string s;
	for (int i = width - 1; i >= 0; i--)
		s += hexdigits[(v >> (4 * i)) & 0xF];
	return s;
}

// Text of the input for a message: control and non-ASCII bytes as \xHH, cut short.
static std::string shown(std::string_view s)
{
	std::string r;
	for (size_t i = 0; i < s.size() && i < max_shown; i++) {
		unsigned char c = (unsigned char)s[i];
		r += c >= 0x20 && c < 0x7F ? std::string(1, (char)c) : "\\x" + hex(c, 2);
	}
	return s.size() > max_shown ? r + "..." : r;
}

static std::string quoted(const Token &t)
{
	return "'" + shown(t.text) + "'";
}

// The escape whose backslash is s[i]; i is left after it.
static unsigned char escape(std::string_view s, size_t &i)
{
	int column = (int)i + 1;
	if (++i >= s.size())
		throw LineError{column, "unterminated escape"};
	char c = s[i++];
	// Pairs: the letter after the backslash, the byte it stands for.
	static const char simple[] = "a\ab\bf\fn\nr\rt\tv\v\\\\\'\'\"\"??";
	for (size_t k = 0; k + 1 < sizeof simple; k += 2)
		if (c == simple[k])
			return (unsigned char)simple[k + 1];
	if (c == 'x') {
		unsigned v = 0;
		int n = 0;
		for (; n < 2 && i < s.size() && digit(s[i], 16) >= 0; n++)
			v = v * 16 + (unsigned)digit(s[i++], 16);
		if (n == 0)
			throw LineError{column, "\\x needs one or two hex digits"};
		return (unsigned char)v;
	}
	if (digit(c, 8) < 0)
		throw LineError{column, "unknown escape '\\" + shown(std::string_view(&c, 1)) + "'"};
	unsigned v = (unsigned)digit(c, 8);
	for (int n = 1; n < 3 && i < s.size() && digit(s[i], 8) >= 0; n++)
		v = v * 8 + (unsigned)digit(s[i++], 8);
	if (v > 0xFF)
		throw LineError{column, "octal escape beyond \\377"};
	return (unsigned char)v;
}

static Line tokenize(std::string_view s)
{
	Line l;
	size_t i = 0;
	for (;;) {
		while (i < s.size() && blank(s[i]))
			i++;
		if (i == s.size() || s[i] == '#')
			return l;
		size_t start = i;
		Token t{Kind::word, {}, (int)start + 1, {}};
		if (s[i] == '"') {
			t.kind = Kind::string;
			for (i++;;) {
				if (i >= s.size())
					throw LineError{t.column, "unterminated string"};
				if (s[i] == '"')
					break;
				t.bytes += s[i] == '\\' ? (char)escape(s, i) : s[i++];
			}
			i++;
		} else if (s[i] == '\'') {
			t.kind = Kind::character;
			// velmora-decode writes a quote and a backslash bare: ''' and '\'.
			if (i + 2 < s.size() && s[i + 2] == '\'' &&
			    (i + 3 == s.size() || blank(s[i + 3]) || s[i + 3] == '#')) {
				t.bytes = s[i + 1];
				i += 3;
			} else {
				i++;
				if (i < s.size() && s[i] == '\\')
					t.bytes = (char)escape(s, i);
				else if (i < s.size() && s[i] != '\'')
					t.bytes = s[i++];
				if (t.bytes.empty() || i >= s.size() || s[i] != '\'')
					throw LineError{t.column, "bad character: one character or escape in "
					                          "quotes, e.g. 'A' or '\\n'"};
				i++;
			}
		} else if (s[i] == '[') {
			t.kind = Kind::effect;
			size_t close = s.find(']', i);
			if (close == std::string_view::npos)
				throw LineError{t.column, "unterminated '['"};
			i = close + 1;
		} else {
			while (i < s.size() && !blank(s[i]) && s[i] != '#')
				i++;
		}
		t.text = s.substr(start, i - start);
		l.end_column = (int)i + 1;
		l.tokens.push_back(std::move(t));
	}
}

static const Token *peek(const Line &l)
{
	return l.next < l.tokens.size() ? &l.tokens[l.next] : nullptr;
}

static bool is_word(const Token *t, std::string_view w)
{
	return t && t->kind == Kind::word && t->text == w;
}

static bool take(Line &l, std::string_view w)
{
	if (!is_word(peek(l), w))
		return false;
	l.next++;
	return true;
}

// The words of a fixed phrase, e.g. velmora-decode's "cut off by the end of input".
static void expect_phrase(Line &l, std::vector<std::string_view> words, const char *phrase)
{
	for (std::string_view w : words) {
		const Token *t = peek(l);
		if (!is_word(t, w))
			throw LineError{t ? t->column : l.end_column,
			                std::string("expected '") + phrase + "'"};
		l.next++;
	}
}

// Digits in a base, saturating at number_cap; nullopt if not all digits.
static std::optional<uint64_t> digits(std::string_view s, unsigned base)
{
	if (s.empty())
		return std::nullopt;
	uint64_t v = 0;
	for (char c : s) {
		int d = digit(c, base);
		if (d < 0)
			return std::nullopt;
		v = v >= number_cap ? number_cap : v * base + (unsigned)d;
	}
	return v;
}

// Decimal, or hex after 0x (hex_only: hex with or without 0x).
static std::optional<uint64_t> number(const Token &t, bool hex_only = false)
{
	if (t.kind != Kind::word)
		return std::nullopt;
	std::string_view s = t.text;
	bool prefixed = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
	if (prefixed)
		s.remove_prefix(2);
	return digits(s, prefixed || hex_only ? 16 : 10);
}

// A number operand 0..max, named what in messages.
static unsigned operand(Line &l, const std::string &what, unsigned max, bool hex_only = false)
{
	const Token *t = peek(l);
	if (!t)
		throw LineError{l.end_column, "missing " + what};
	std::optional<uint64_t> v = number(*t, hex_only);
	if (!v)
		throw LineError{t->column, "bad " + what + " " + quoted(*t) + ": not a number"};
	if (*v > max) {
		bool hex_range = max == VW_ATTRIBUTE_MASK || max == 0xFF || max == 0xFFFF;
		std::string range = hex_range ? "0x" + hex(max, max > 0xFF ? 4 : 2) : std::to_string(max);
		throw LineError{t->column, what + " " + shown(t->text) + " out of range 0.." + range};
	}
	l.next++;
	return (unsigned)*v;
}

static int colour_index(const Token *t)
{
	for (int i = 0; i < 4; i++)
		if (is_word(t, colour_names[i]))
			return i;
	return -1;
}

// A colour: a name, or an index with velmora-decode's "(name)" after it.
static unsigned colour(Line &l)
{
	const Token *t = peek(l);
	if (!t)
		throw LineError{l.end_column, "missing colour"};
	if (int c = colour_index(t); c >= 0) {
		l.next++;
		return (unsigned)c;
	}
	if (!number(*t))
		throw LineError{t->column,
		                "unknown colour " + quoted(*t) + " (white, red, blue, black or 0..3)"};
	unsigned c = operand(l, "colour", 3);
	const Token *n = peek(l);
	if (n && n->kind == Kind::word && n->text.starts_with('(')) {
		if (n->text != std::string("(") + colour_names[c] + ")")
			throw LineError{n->column, "colour " + std::to_string(c) + " is " + colour_names[c] +
			                                   ", not " + shown(n->text)};
		l.next++;
	}
	return c;
}

// x or y: the operand's keyword is optional, but the other axis is an error.
static unsigned coordinate(Line &l, const GraphicsOp &op)
{
	const Token *t = peek(l);
	if (is_word(t, "x") || is_word(t, "y")) {
		if (t->text != op.axis)
			throw LineError{t->column, std::string(op.name) + " takes " + op.axis + ", not " +
			                                   std::string(t->text)};
		l.next++;
	}
	return operand(l, op.axis, max_coordinate);
}

static unsigned attributes(Line &l)
{
	static const char *const field_names[3] = {"size", "colour", "rotation"};
	std::optional<unsigned> attr, field[3];
	const Token *field_at[3] = {};
	if (const Token *t = peek(l); t && number(*t))
		attr = operand(l, "attr", VW_ATTRIBUTE_MASK);
	while (const Token *t = peek(l)) {
		int f = 0;
		while (f < 3 && !is_word(t, field_names[f]))
			f++;
		if (f == 3 && !is_word(t, "attr"))
			break;
		if (f == 3 ? attr.has_value() : field[f].has_value())
			throw LineError{t->column, std::string(t->text) + " given twice"};
		l.next++;
		if (f == 3) {
			attr = operand(l, "attr", VW_ATTRIBUTE_MASK);
			continue;
		}
		field_at[f] = t;
		field[f] = f == 1 ? colour(l) : operand(l, field_names[f], f == 0 ? 7 : 3);
	}
	if (!attr)
		return vw_attribute_byte(field[0].value_or(0), field[1].value_or(0), field[2].value_or(0));
	const unsigned in_attr[3] = {*attr & 7, (*attr >> 3) & 3, (*attr >> 5) & 3};
	for (int f = 0; f < 3; f++)
		if (field[f] && *field[f] != in_attr[f])
			throw LineError{field_at[f]->column,
			                std::string(field_names[f]) + " " + std::to_string(*field[f]) +
			                        " disagrees with attr 0x" + hex(*attr, 2) + ", whose " +
			                        field_names[f] + " is " + std::to_string(in_attr[f])};
	return *attr;
}

// How velmora-decode notes a character code after it.
static std::string character_note(unsigned code)
{
	if (code >= 0x20 && code < 0x7F)
		return std::string("'") + (char)code + "'";
	return code == 0x7F ? "DEL" : "(drawn as DEL)";
}

static unsigned character(Line &l)
{
	take(l, "char");
	const Token *t = peek(l);
	if (t && t->kind == Kind::character) {
		l.next++;
		return (unsigned char)t->bytes[0];
	}
	unsigned code = operand(l, "char", 0xFF);
	const Token *n = peek(l);
	std::string note;
	bool agrees;
	if (n && n->kind == Kind::character) {
		l.next++;
		note = n->text;
		agrees = (unsigned char)n->bytes[0] == code;
	} else if (take(l, "DEL")) {
		note = "DEL";
		agrees = code == 0x7F;
	} else if (take(l, "(drawn")) {
		expect_phrase(l, {"as", "DEL)"}, "(drawn as DEL)");
		note = "(drawn as DEL)";
		agrees = code < 0x20 || code > 0x7F;
	} else {
		return code;
	}
	if (!agrees)
		throw LineError{n->column, "char 0x" + hex(code, 2) + " is " + character_note(code) +
		                                   ", not " + shown(note)};
	return code;
}

static std::vector<uint8_t> hex_bytes(Line &l)
{
	std::vector<uint8_t> bytes;
	while (peek(l))
		bytes.push_back((uint8_t)operand(l, "byte", 0xFF, true));
	return bytes;
}

static void put(std::vector<uint8_t> &out, uint16_t word)
{
	uint8_t b[2];
	vw_put(b, word);
	out.insert(out.end(), b, b + 2);
}

static bool hex_token(const Token *t, size_t length)
{
	return t && t->kind == Kind::word && t->text.size() == length && digits(t->text, 16);
}

static Columns columns(Line &l)
{
	Columns c;
	if (!peek(l) || peek(l)->kind != Kind::word || !digits(peek(l)->text, 10))
		return c;
	l.next++;
	while (c.bytes.size() < 2 && hex_token(peek(l), 2))
		c.bytes.push_back((uint8_t)*digits(l.tokens[l.next++].text, 16));
	if (hex_token(peek(l), 4)) {
		const Token &t = l.tokens[l.next++];
		c.word = (uint16_t)*digits(t.text, 16);
		if (c.bytes.size() == 2 && *c.word != (c.bytes[0] << 8 | c.bytes[1]))
			throw LineError{t.column, "word column " + std::string(t.text) +
			                                  " disagrees with the bytes column " +
			                                  hex(c.bytes[0], 2) + " " + hex(c.bytes[1], 2)};
	} else if (c.bytes.size() == 2) {
		c.word = (uint16_t)(c.bytes[0] << 8 | c.bytes[1]);
	}
	return c;
}

// An instruction word: its bits from the mnemonic and operands, and the bits
// they leave open (open) from the word column.
static void instruction(Statement &st, const Columns &c, unsigned word, unsigned open)
{
	put(st.bytes, (uint16_t)(word | (c.word.value_or(0) & open)));
}

static void ignored(Line &l, Statement &st, const Columns &c)
{
	bool graphics = take(l, "graphics");
	if (!graphics && !take(l, "control")) {
		const Token *t = peek(l);
		throw LineError{t ? t->column : l.end_column,
		                "expected 'graphics opcode' or 'control opcode'"};
	}
	expect_phrase(l, {"opcode"}, graphics ? "graphics opcode" : "control opcode");
	const Token *t = peek(l);
	unsigned mask = graphics ? VW_GRAPHICS_OPCODE_MASK : VW_CONTROL_OPCODE_MASK;
	unsigned opcode = operand(l, "opcode", 0xFFFF);
	bool not_ignored = (opcode & ~mask) != 0;
	if (graphics)
		for (const GraphicsOp &op : graphics_ops)
			not_ignored = not_ignored || opcode == op.opcode;
	else
		not_ignored = not_ignored || opcode == OP_CLEAR || opcode == OP_END_FRAME ||
		              opcode == OP_ATTRIBUTES || opcode == OP_CHARACTER;
	if (not_ignored)
		throw LineError{t->column, "0x" + hex(opcode, 4) + " is not an ignored " +
		                                   (graphics ? "graphics" : "control") + " opcode"};
	if (graphics)
		instruction(st, c, opcode, 0xFFFF & ~(VW_CONTROL_BIT | VW_GRAPHICS_OPCODE_MASK));
	else
		instruction(st, c, VW_CONTROL_BIT | opcode, VW_OPERAND_MASK);
}

static void dropped(Line &l, Statement &st)
{
	const Token *count = peek(l);
	unsigned n = operand(l, "count", 0xFFFF);
	if (!take(l, "bytes:") && !take(l, "byte:")) {
		const Token *t = peek(l);
		throw LineError{t ? t->column : l.end_column, "expected 'bytes:'"};
	}
	st.bytes = hex_bytes(l);
	if (st.bytes.size() != n)
		throw LineError{count->column, "dropped " + std::to_string(n) + " bytes, but " +
		                                       std::to_string(st.bytes.size()) + " listed"};
}

static void incomplete(Line &l, Statement &st, const Columns &c, int column)
{
	if (take(l, "sync")) {
		expect_phrase(l, {"pair", "cut", "off", "by", "the", "end", "of", "input"},
		              "sync pair cut off by the end of input");
		st.bytes = {VW_SYNC_BYTE};
		return;
	}
	expect_phrase(l, {"word", "cut", "off", "by", "the", "end", "of", "input"},
	              "word cut off by the end of input");
	if (c.bytes.size() != 1)
		throw LineError{column, "an incomplete word's byte comes from the bytes column: one byte"};
	st.bytes = c.bytes;
}

static Statement statement(Line &l)
{
	Columns c = columns(l);
	Statement st;
	const Token *t = peek(l);
	if (!t)
		throw LineError{l.end_column, "missing instruction after the listing's columns"};
	st.column = t->column;
	l.next++;
	std::string_view w = t->kind == Kind::word ? t->text : std::string_view();
	if (t->kind == Kind::string) {
		for (char ch : t->bytes)
			put(st.bytes, vw_character((unsigned char)ch));
		st.drawing = true;
	} else if (w == "sync") {
		st.bytes = {VW_SYNC_BYTE, VW_SYNC_BYTE};
	} else if (w == "filler") {
		put(st.bytes, VW_FILLER);
	} else if (w == "word") {
		unsigned word = operand(l, "word", 0xFFFF);
		put(st.bytes, (uint16_t)word);
		st.drawing = word != VW_FILLER;
	} else if (w == "bytes") {
		st.bytes = hex_bytes(l);
		if (st.bytes.empty())
			throw LineError{l.end_column, "missing byte"};
	} else if (w == "moveto" || w == "lineto") {
		unsigned x = operand(l, "x", max_coordinate);
		unsigned y = operand(l, "y", max_coordinate);
		uint8_t b[4];
		if (w == "lineto") {
			st.bytes.assign(b, b + vw_put_line_to(b, x, y));
		} else {
			unsigned col = VW_RED;  // the display's own first colour; white barely shows
			if (peek(l)) {
				take(l, "colour");
				col = colour(l);
			}
			st.bytes.assign(b, b + vw_put_move_to(b, col, x, y));
		}
		st.drawing = true;
	} else if (w == "dropped") {
		dropped(l, st);
	} else if (w == "incomplete") {
		incomplete(l, st, c, t->column);
	} else if (w == "ignored") {
		ignored(l, st, c);
	} else if (w == "end") {
		expect_phrase(l, {"of", "input"}, "end of input");
		l.next = l.tokens.size();  // velmora-decode's summary: nothing to write
	} else if (w == "OP_CLEAR" || w == "OP_END_FRAME") {
		instruction(st, c, w == "OP_CLEAR" ? vw_clear() : vw_end_frame(), VW_OPERAND_MASK);
		st.drawing = true;
	} else if (w == "OP_ATTRIBUTES") {
		instruction(st, c, vw_attributes(attributes(l)), VW_OPERAND_MASK & ~VW_ATTRIBUTE_MASK);
		st.drawing = true;
	} else if (w == "OP_CHARACTER") {
		put(st.bytes, vw_character(character(l)));
		st.drawing = true;
	} else {
		const GraphicsOp *op = nullptr;
		for (const GraphicsOp &g : graphics_ops)
			if (w == g.name)
				op = &g;
		if (!op)
			throw LineError{t->column, "unknown instruction " + quoted(*t)};
		unsigned value = coordinate(l, *op);
		unsigned col = 0;
		if (op->coloured) {
			take(l, "colour");
			col = colour(l);
		}
		instruction(st, c, vw_graphics(op->opcode, col, value), op->coloured ? 0 : VW_COLOUR_MASK);
		st.drawing = true;
	}
	if (const Token *extra = peek(l))
		throw LineError{extra->column, "extra operand " + quoted(*extra)};
	return st;
}

Encoded encode_text(std::string_view text)
{
	Encoded r;
	// The display's framer while it hunts for the first sync pair.
	bool synced = false, half_sync = false, warned = false;
	int line_no = 0;
	size_t pos = 0;
	while (pos < text.size()) {
		size_t end = text.find('\n', pos);
		if (end == std::string_view::npos)
			end = text.size();
		std::string_view s = text.substr(pos, end - pos);
		pos = end + 1;
		line_no++;
		if (!s.empty() && s.back() == '\r')
			s.remove_suffix(1);
		try {
			Line l = tokenize(s);
			if (l.tokens.empty())
				continue;
			// velmora-decode's note of what a word did.
			if (l.tokens.size() > 1 && l.tokens.back().kind == Kind::effect)
				l.tokens.pop_back();
			Statement st = statement(l);
			if (st.drawing && !synced && !warned) {
				r.messages.push_back(
				        {line_no, st.column, false,
				         "drawing words before the first sync: the display drops them"});
				warned = true;
			}
			for (uint8_t b : st.bytes) {
				synced = synced || (half_sync && b == VW_SYNC_BYTE);
				half_sync = b == VW_SYNC_BYTE;
			}
			r.bytes.insert(r.bytes.end(), st.bytes.begin(), st.bytes.end());
		} catch (const LineError &e) {
			r.messages.push_back({line_no, e.column, true, e.message});
			if (++r.errors == encode_max_errors) {
				r.stopped = pos < text.size();
				break;
			}
		}
	}
	if (r.errors > 0)
		r.bytes.clear();
	return r;
}

std::string encode_report(const Encoded &e, const std::string &name)
{
	std::string out;
	for (const EncodeMessage &m : e.messages)
		out += name + ":" + std::to_string(m.line) + ":" + std::to_string(m.column) +
		       (m.error ? ": error: " : ": warning: ") + m.text + "\n";
	if (e.stopped)
		out += name + ": stopped after " + std::to_string(e.errors) + " errors\n";
	return out;
}

bool vel_name(std::string_view path)
{
	return path.size() > 4 && path.substr(path.size() - 4) == ".vel";
}

bool looks_like_text(const uint8_t *bytes, size_t n)
{
	constexpr size_t looked_at = 4096;
	if (n > looked_at)
		n = looked_at;
	for (size_t i = 0; i < n; i++) {
		uint8_t c = bytes[i];
		if ((c < 0x20 || c > 0x7E) && c != '\t' && c != '\n' && c != '\r')
			return false;
	}
	return n > 0;
}

std::string text_hint(const std::string &name)
{
	return name + " looks like text, not a byte stream (no sync pair FF FF): if it is " +
	       "velmora-encode's text form, name it *.vel, or encode it first: velmora-encode -o " +
	       "stream.bin " + name;
}
