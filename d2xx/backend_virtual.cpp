// Virtual board: a made-up device list whose open device receives the bytes
// of a file, a named pipe or a TCP client, at a set rate.
//
// PLATFORM       any; chosen when VELMORA_BOARD is set.  The source itself
//                (file, fifo, TCP) is the platform's: d2xx/virtual_source.h.
// LIMITATIONS    one device open at a time, since there is one source; line
//                settings are checked and then have no effect; nothing goes
//                back to the source.
// CONFIGURATION  read when chosen; a bad value makes FT_Open fail and says why:
//   VELMORA_BOARD          file:PATH (played once, then silence), fifo:PATH
//                          (bytes as they come; writers may come and go;
//                          also what file: names when it is no regular file),
//                          tcp:PORT (127.0.0.1 only, one client at a time),
//                          or PATH alone, meaning file:PATH.  A file named
//                          *.vel is the stream's text form, encoded at open
//                          by its one parser (stream/encode.h); one that
//                          does not parse fails the open with its
//                          FILE:LINE:COLUMN errors
//   VELMORA_BOARD_DEVICES  DESCRIPTION or DESCRIPTION@SERIAL, ';' between
//                          entries; empty: no devices; unset: one
//                          "FT232R USB UART".  Serial by default VB0000, VB0001...
//   VELMORA_BOARD_RATE     bytes per second into the receive queue, 0 = as
//                          fast as they are read; default 150000
//   VELMORA_BOARD_FAIL     OPERATION or OPERATION@N, e.g. FT_Read@3: every
//                          call, or only the N-th from 0, returns FT_IO_ERROR
//
// Bytes move from the source into the receive queue only inside
// FT_GetQueueStatus, FT_Read and d2xx_wait, and only as many as the queue has
// room for: a full queue leaves them in the source, so a writer waits, as
// RTS/CTS makes the board wait, and nothing is dropped.  It also means that
// the purge during set-up finds the queue empty and a file plays from its
// first byte.  At a set rate they move in blocks of about a millisecond's
// worth, as an adapter hands them over in packets.  A fifo's pipe and a
// socket's receive buffer are kept small, so a writer is never far ahead of
// what the display has read.  A .vel file's bytes are encoded at open and
// played from memory, exactly as a .bin of them would be.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <string>

#include "d2xx/backend.h"
#include "d2xx/virtual_source.h"
#include "stream/encode.h"

constexpr uint64_t ns_per_s = 1000000000;
constexpr uint64_t max_rate = 1000000000;    // bytes per second; keeps credit arithmetic in range
constexpr uint32_t virtual_id = 0x04036001;  // FTDI, FT232R
constexpr uint32_t first_loc_id = 0x1000;

// Configuration, from init().
static d2xx_device devices[max_devices];
static uint32_t device_count;
static source_kind kind;
static char source_path[4096];
static uint16_t tcp_port;
static uint64_t rate;       // bytes per second, 0 = unlimited
static int fail_op;         // op_count: none
static bool sw_fail_every;  // else only call number fail_call
static uint64_t fail_call;
static uint64_t calls[op_count];  // calls so far, per operation
static char config_error[160];    // first bad setting, "" when none

// The open device.
static int open_slot = -1;
static bool sw_source_open;
static std::string played;                       // a .vel file's bytes, played instead of its own
static size_t played_at;                         // of played, the next byte
static bool sw_source_ended;                     // a read found the end: file done, fifo without writer
static bool sw_played_once;                      // a regular file: its end is final
static unsigned char queue[virtual_queue_size];  // receive queue, a ring
static uint32_t queue_head;                      // oldest byte
static uint32_t queue_count;                     // bytes queued
static uint64_t credit;                          // rate allowance, byte-nanoseconds (1e9 = one byte)
static uint64_t credit_time;                     // monotonic ns when credit was last topped up

static void config_fail(const char *what, const char *value, const char *why)
{
	if (config_error[0] == '\0')
		snprintf(config_error, sizeof config_error, "%s=\"%s\": %s", what, value, why);
}

// Whole decimal number, digits only, at most max.
static bool parse_number(const char *s, size_t len, uint64_t max, uint64_t *out)
{
	if (len == 0)
		return false;
	uint64_t v = 0;
	for (size_t i = 0; i < len; i++) {
		if (s[i] < '0' || s[i] > '9')
			return false;
		v = v * 10 + (uint64_t)(s[i] - '0');
		if (v > max)
			return false;
	}
	*out = v;
	return true;
}

static void parse_devices(const char *value)
{
	device_count = 0;
	if (!value)
		value = "FT232R USB UART";
	if (*value == '\0')
		return;
	for (const char *entry = value;; entry++) {
		const char *end = strchr(entry, ';');
		if (!end)
			end = entry + strlen(entry);
		if (device_count == max_devices) {
			d2xx_note("VELMORA_BOARD_DEVICES: more than %u devices, the rest left out",
			          max_devices);
			return;
		}
		d2xx_device *d = &devices[device_count];
		memset(d, 0, sizeof *d);
		const char *at = end;
		while (at > entry && at[-1] != '@')
			at--;
		if (at > entry) {  // the last '@' splits off the serial
			d2xx_copy(d->description, sizeof d->description, entry, (size_t)(at - 1 - entry));
			d2xx_copy(d->serial, sizeof d->serial, at, (size_t)(end - at));
		} else {
			d2xx_copy(d->description, sizeof d->description, entry, (size_t)(end - entry));
			snprintf(d->serial, sizeof d->serial, "VB%04u", device_count);
		}
		snprintf(d->port, sizeof d->port, "vb%u", device_count);
		d->type = FT_DEVICE_232R;
		d->id = virtual_id;
		d->loc_id = first_loc_id + device_count;
		device_count++;
		if (*end == '\0')
			return;
		entry = end;
	}
}

static void parse_source(const char *value)
{
	const char *path = value;
	kind = source_file;
	if (strncmp(value, "file:", 5) == 0) {
		path = value + 5;
	} else if (strncmp(value, "fifo:", 5) == 0) {
		kind = source_fifo;
		path = value + 5;
	} else if (strncmp(value, "tcp:", 4) == 0) {
		kind = source_tcp;
		uint64_t port;
		if (!parse_number(value + 4, strlen(value + 4), 65535, &port) || port == 0)
			config_fail("VELMORA_BOARD", value, "the port must be a number 1..65535");
		else
			tcp_port = (uint16_t)port;
		return;
	}
	if (*path == '\0')
		config_fail("VELMORA_BOARD", value, "no path given");
	else if (strlen(path) >= sizeof source_path)
		config_fail("VELMORA_BOARD", value, "path too long");
	else
		strcpy(source_path, path);
}

static void parse_fail(const char *value)
{
	fail_op = op_count;
	if (!value || *value == '\0')
		return;
	const char *at = strchr(value, '@');
	size_t name_len = at ? (size_t)(at - value) : strlen(value);
	int op = 0;
	while (op < op_count &&
	       !(strlen(d2xx_op_names[op]) == name_len && strncmp(d2xx_op_names[op], value, name_len) == 0))
		op++;
	if (op == op_count) {
		config_fail("VELMORA_BOARD_FAIL", value, "not an operation name such as FT_Read");
		return;
	}
	sw_fail_every = !at;
	if (at && !parse_number(at + 1, strlen(at + 1), UINT32_MAX, &fail_call)) {
		config_fail("VELMORA_BOARD_FAIL", value, "the call number after @ must be a whole number");
		return;
	}
	fail_op = op;
}

static void virtual_close(int)
{
	if (sw_source_open)
		source_close();
	sw_source_open = false;
	played.clear();
	played_at = 0;
	open_slot = -1;
}

static void virtual_init()
{
	virtual_close(0);
	config_error[0] = '\0';
	memset(calls, 0, sizeof calls);
	parse_devices(getenv("VELMORA_BOARD_DEVICES"));
	parse_source(getenv("VELMORA_BOARD"));
	parse_fail(getenv("VELMORA_BOARD_FAIL"));
	const char *r = getenv("VELMORA_BOARD_RATE");
	rate = line_rate;
	if (r && !parse_number(r, strlen(r), max_rate, &rate))
		config_fail("VELMORA_BOARD_RATE", r,
		            "must be a whole number of bytes per second, at most 1000000000");
}

static bool virtual_inject_failure(d2xx_op op)
{
	uint64_t n = calls[op]++;
	return (int)op == fail_op && (sw_fail_every || n == fail_call);
}

static FT_STATUS virtual_list(d2xx_device *list, uint32_t max, uint32_t *count)
{
	uint32_t n = device_count < max ? device_count : max;
	memcpy(list, devices, n * sizeof *list);
	*count = n;
	return FT_OK;
}

static uint64_t now_ns()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return (uint64_t)t.tv_sec * ns_per_s + (uint64_t)t.tv_nsec;
}

// A .vel board file, encoded: what is played then.  False when it does not
// parse (its errors said) or cannot be read.
static bool encode_source()
{
	std::string text;
	char chunk[1 << 16];
	for (;;) {
		long k = source_read(chunk, sizeof chunk);
		if (k == source_failed)
			return false;
		if (k <= 0)
			break;
		text.append(chunk, (size_t)k);
	}
	Encoded e = encode_text(text);
	fputs(encode_report(e, source_path).c_str(), stderr);
	if (e.errors > 0) {
		d2xx_note("virtual board: %s is not velmora-encode's text form (the errors above)",
		          source_path);
		return false;
	}
	// The file stays open, read to its end: it is still what the board
	// reads from, for d2xx_reads_from.
	played.assign((const char *)e.bytes.data(), e.bytes.size());
	played_at = 0;
	return true;
}

// A regular file as the source: a .vel file is encoded; a file of other
// bytes that look like text gets a hint, as the display would drop all of
// it; those first bytes are played before the rest.  False (the reason
// said) when the open must fail.
static bool regular_source()
{
	if (vel_name(source_path))
		return encode_source();
	char head[4096];
	long k = source_read(head, sizeof head);
	if (k == source_failed)
		return false;
	if (k > 0) {
		played.assign(head, (size_t)k);
		played_at = 0;
		if (looks_like_text((const unsigned char *)head, (size_t)k))
			d2xx_note("virtual board: %s", text_hint(source_path).c_str());
	}
	return true;
}

static FT_STATUS virtual_open(int slot, const d2xx_device *)
{
	if (config_error[0]) {
		d2xx_note("%s", config_error);
		return FT_DEVICE_NOT_OPENED;
	}
	if (open_slot >= 0) {
		d2xx_note("virtual board: its one source already feeds an open device");
		return FT_DEVICE_NOT_OPENED;
	}
	bool regular = false;
	if (!source_open(kind, source_path, tcp_port, &regular))
		return FT_DEVICE_NOT_OPENED;
	sw_source_open = true;
	played.clear();
	played_at = 0;
	if (regular && !regular_source()) {
		virtual_close(slot);
		return FT_DEVICE_NOT_OPENED;
	}
	// A pipe or device named as a file is a stream all the same: its end
	// now is no end for good.
	sw_played_once = kind == source_file && regular;
	sw_source_ended = false;
	queue_head = queue_count = 0;
	credit = 0;
	credit_time = now_ns();
	open_slot = slot;
	return FT_OK;
}

// Bytes the rate allows now.
static uint64_t allowance()
{
	if (rate == 0)
		return UINT64_MAX;
	uint64_t now = now_ns();
	uint64_t dt = now - credit_time;
	credit_time = now;
	// At most a queue's worth, as a real queue fills no further while
	// nobody reads.
	uint64_t cap = (uint64_t)virtual_queue_size * ns_per_s;
	if (dt >= cap / rate)
		credit = cap;
	else
		credit = credit + dt * rate < cap ? credit + dt * rate : cap;
	return credit / ns_per_s;
}

// Reads what is there now: first what is played from memory, then the
// source, unless a file is over for good.
static long take(void *buf, size_t n)
{
	if (played_at < played.size()) {
		size_t k = played.size() - played_at < n ? played.size() - played_at : n;
		memcpy(buf, played.data() + played_at, k);
		played_at += k;
		return (long)k;
	}
	if (!sw_source_open || (sw_played_once && sw_source_ended))
		return 0;
	return source_read(buf, n);
}

// Bytes the rate lets through at once: a millisecond's worth, at least one
// and at most a quarter of the queue, which the credit can always reach.
static uint64_t block()
{
	uint64_t b = rate / virtual_blocks_per_s;
	return b < 1 ? 1 : b > virtual_queue_size / 4 ? virtual_queue_size / 4 : b;
}

// Moves what the rate and the queue's room allow from the source.
static FT_STATUS pull()
{
	uint64_t want = virtual_queue_size - queue_count;
	if (want == 0)
		return FT_OK;
	uint64_t allowed = allowance();
	if (allowed < block() && allowed < want)
		return FT_OK;  // the rest of a block first
	if (want > allowed)
		want = allowed;
	while (want > 0) {
		uint32_t tail = (queue_head + queue_count) % virtual_queue_size;
		size_t chunk = virtual_queue_size - tail;
		if (chunk > want)
			chunk = (size_t)want;
		long k = take(queue + tail, chunk);
		if (k > 0) {
			queue_count += (uint32_t)k;
			want -= (uint64_t)k;
			if (rate)
				credit -= (uint64_t)k * ns_per_s;
			sw_source_ended = false;
			continue;
		}
		if (k == 0)  // a file (or a device) is over
			sw_source_ended = true;
		if (k == source_failed)
			return FT_IO_ERROR;
		break;
	}
	return FT_OK;
}

// Microseconds until the rate allows a block, rounded up; 0 when it does.
static int64_t us_until_block()
{
	uint64_t need = block() * ns_per_s;
	if (rate == 0 || credit >= need)
		return 0;
	uint64_t ns = (need - credit + rate - 1) / rate;
	return (int64_t)((ns + 999) / 1000);
}

static FT_STATUS virtual_queue_status(int, uint32_t *count)
{
	FT_STATUS status = pull();
	*count = queue_count;
	return status;
}

static FT_STATUS virtual_wait(int, int fd, int64_t timeout_us)
{
	FT_STATUS status = pull();
	if (status != FT_OK || queue_count > 0)
		return status;
	// Only time can bring the next block while the rate holds it back: the
	// source is not watched then, or a writer ahead of the rate would wake
	// us at once; an ended source would report itself readable for ever.
	int64_t until = us_until_block();
	if (until > 0 && until < timeout_us)
		timeout_us = until;
	source_wait(fd, until == 0 && !sw_source_ended && sw_source_open, timeout_us);
	return FT_OK;
}

static FT_STATUS virtual_read(int, void *buf, uint32_t n, uint32_t *got)
{
	FT_STATUS status = pull();
	if (status != FT_OK)
		return status;
	if (n > queue_count)
		n = queue_count;
	uint32_t first = virtual_queue_size - queue_head;
	if (first > n)
		first = n;
	memcpy(buf, queue + queue_head, first);
	memcpy((unsigned char *)buf + first, queue, n - first);
	queue_head = (queue_head + n) % virtual_queue_size;
	queue_count -= n;
	*got = n;
	return FT_OK;
}

static FT_STATUS virtual_purge(int, uint32_t mask)
{
	if (mask & FT_PURGE_RX)
		queue_head = queue_count = 0;
	return FT_OK;
}

static FT_STATUS virtual_reset(int slot)
{
	return virtual_purge(slot, FT_PURGE_RX | FT_PURGE_TX);
}

static FT_STATUS virtual_set_baud_rate(int, uint32_t)
{
	return FT_OK;
}

static FT_STATUS virtual_set_flow_control(int, uint16_t, uint8_t, uint8_t)
{
	return FT_OK;
}

static FT_STATUS virtual_set_data_characteristics(int, uint8_t, uint8_t, uint8_t)
{
	return FT_OK;
}

static FT_STATUS virtual_set_usb_parameters(int, uint32_t, uint32_t)
{
	return FT_OK;
}

static bool virtual_reads_from(int, const char *path)
{
	return kind != source_tcp && open_slot >= 0 && source_reads_from(path);
}

const d2xx_backend d2xx_virtual_backend = {
        .name = "virtual",
        .init = virtual_init,
        .inject_failure = virtual_inject_failure,
        .list = virtual_list,
        .open = virtual_open,
        .close = virtual_close,
        .reset = virtual_reset,
        .set_baud_rate = virtual_set_baud_rate,
        .set_flow_control = virtual_set_flow_control,
        .set_data_characteristics = virtual_set_data_characteristics,
        .set_usb_parameters = virtual_set_usb_parameters,
        .purge = virtual_purge,
        .queue_status = virtual_queue_status,
        .read = virtual_read,
        .wait = virtual_wait,
        .reads_from = virtual_reads_from,
};
