// ft232r: an FT232R USB serial converter of our own, at the USB level, so
// that the real Linux driver (ftdi_sio) in a QEMU guest faces a chip with a
// board behind it, without hardware.
//
// QEMU's usb-redir device connects to --usbredir and is served the chip's
// descriptors, its vendor requests (each noted on stderr and kept for the
// summary line) and its bulk IN packets.  The board's bytes move into the
// chip's 256-byte receive FIFO at the line rate the host set; with RTS/CTS
// the board is held off when RTS drops, without it (--no-handshake) bytes
// that meet a full FIFO are lost and the next data packet says overrun.
// One process serves one board, in one poll loop that wakes every
// millisecond while bytes flow or the host waits for packets.  Start
// reading at main().
#include <fcntl.h>
#include <inttypes.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>
#include <usbredirparser.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

static const char usage_text[] =
        "usage: ft232r --usbredir PATH --serial TEXT [--product TEXT] [--board PATH]\n"
        "              [--control PATH] [--line BAUD,FMT] [--no-handshake]\n"
        "\n"
        "Serves one FT232R USB serial converter, as the kernel's ftdi_sio driver\n"
        "sees the chip, to QEMU's -device usb-redir; its board's bytes pass the\n"
        "chip's 256-byte receive FIFO at the line rate the host set, held off by\n"
        "RTS/CTS.\n"
        "\n"
        "  --usbredir PATH  unix socket to listen on for QEMU (one connection; when\n"
        "                   it closes, ft232r prints the summary and exits)\n"
        "  --serial TEXT    the USB serial number\n"
        "  --product TEXT   the USB product string (default \"FT232R USB UART\")\n"
        "  --board PATH     the board's bytes: a regular file, sent once; otherwise a\n"
        "                   unix socket made at PATH for one writer, read no faster\n"
        "                   than the line takes bytes (default: a silent board)\n"
        "  --control PATH   unix socket made at PATH for one connection of commands,\n"
        "                   a line each: \"summary\" (answered with the summary line),\n"
        "                   \"unplug\" (answered \"unplugged\"), \"reset\" (the board's\n"
        "                   bytes not yet taken are read until its socket is quiet\n"
        "                   and dropped, the FIFO emptied, the counts zeroed and the\n"
        "                   board's line set back: answered \"reset\"), \"line\n"
        "                   BAUD,FMT\" (the board's line from now on: \"line set\")\n"
        "  --line BAUD,FMT  the board's line, FMT data bits 7|8, parity N|O|E|M|S, stop\n"
        "                   bits 1|2 (default 1500000,8N1); another host setting\n"
        "                   receives garbage with framing errors\n"
        "  --no-handshake   the board ignores its CTS: bytes meeting a full FIFO are lost\n"
        "  -h, --help       show this text\n"
        "\n"
        "Prints \"ready\" once every socket listens, and the summary line on SIGUSR1,\n"
        "on unplugging (SIGUSR2 or \"unplug\") and at the end (SIGTERM, SIGINT too):\n"
        "  board SERIAL: N bytes sent, N delivered, N lost in N packets, held off N times;\n"
        "  host: ...\n"
        "sent: taken from the board; delivered: to the host; lost: met a full FIFO,\n"
        "in packets: those that said so (the overrun bit);\n"
        "held off: RTS dropped while the board had bytes; then the host's last baud,\n"
        "data bits, parity, stop bits, flow control and latency timer.  Each request\n"
        "of the host is noted on stderr.\n"
        "\n"
        "Exit status: 0 at the end; 1 a socket could not be made; 2 bad usage or an\n"
        "unreadable board file.\n";

// The chip as the driver tells it: bcdDevice exactly 0x0600 is an FT232R.
constexpr uint16_t vendor_id = 0x0403;
constexpr uint16_t product_id = 0x6001;
constexpr uint16_t device_bcd = 0x0600;
constexpr uint8_t ep_in = 0x81;
constexpr uint8_t ep_out = 0x02;
constexpr uint8_t ep0_max_packet = 8;  // bytes
constexpr int max_packet = 64;         // bytes a bulk packet, full speed
constexpr int status_bytes = 2;        // modem and line status, ahead of each IN packet's data
constexpr int packet_data = max_packet - status_bytes;
constexpr int fifo_size = 256;            // receive buffer, bytes
constexpr int rts_room = 32;              // RTS drops with this much room (bytes) left or less
constexpr uint32_t base_clock = 3000000;  // Hz; baud = base_clock / divisor
constexpr int64_t ms_ns = 1000000;
constexpr double max_step_s = 0.05;  // line time one step may move: a stalled model makes no burst

// Modem status: bit 0 always set, then CTS and DSR, which the board drives.
constexpr uint8_t modem_status = 0x01 | 0x10 | 0x20;
// Line status: transmitter empty (nothing is ever sent to the board), then
// the errors that a packet of data may carry.
constexpr uint8_t line_idle = 0x60;
constexpr uint8_t line_overrun = 0x02;
constexpr uint8_t line_framing = 0x08;
constexpr uint16_t garbled = 0x100;  // a FIFO entry received with a framing error

// Vendor requests of the chip.
enum {
	req_reset = 0,
	req_modem_ctrl = 1,
	req_flow_ctrl = 2,
	req_baud = 3,
	req_data = 4,
	req_modem_status = 5,
	req_event_char = 6,
	req_error_char = 7,
	req_set_latency = 9,
	req_get_latency = 0x0a,
	req_read_eeprom = 0x90,
};

struct Line {
	uint32_t baud;  // bits per second
	int bits;       // data bits
	int parity;     // the chip's codes: 0 none, 1 odd, 2 even, 3 mark, 4 space
	int stop;       // the chip's codes: 0 one stop bit, 1 one and a half, 2 two
};

static const char *const parity_names[8] = {"none", "odd", "even", "mark", "space", "bad", "bad", "bad"};
static const char *const stop_names[8] = {"1", "1.5", "2", "bad", "bad", "bad", "bad", "bad"};

// The command line.
static const char *serial_text;
static const char *product_text = "FT232R USB UART";
static Line board_line = {1500000, 8, 0, 0};
static Line first_line;  // board_line as the command line set it
static bool honours_cts = true;

// What the host set last (power_on() restores the chip's defaults).
static Line host_line;
static int host_flow;  // handshake bits: 1 RTS/CTS, 2 DTR/DSR, 4 XON/XOFF
static bool host_dtr, host_rts;
static int latency_ms;  // latency timer
static uint8_t configuration;

static uint64_t sent, delivered, lost, held_off;  // bytes, bytes, bytes, times
static uint64_t overrun_packets;                  // sent with the overrun bit

// The receive FIFO and the line into it.
static uint16_t fifo[fifo_size];  // bytes, each with its garbled flag
static int fifo_head, fifo_count;
static bool overrun;                    // a byte was lost since the last packet with data
static bool rts;                        // the chip's RTS, the board's CTS
static double credit;                   // line time not yet spent, in bytes
static int64_t now;                     // monotonic clock, ns, at this turn of the loop
static int64_t line_time, last_packet;  // ns

// The board: a file's bytes, or those read from its socket and not yet sent.
static std::vector<uint8_t> board_bytes;
static size_t board_pos;
static int board_listener = -1, board_fd = -1;
static bool board_starved;  // its socket had nothing the last time it was read

static usbredirparser *parser;
static int redir_listener = -1, redir_fd = -1;
static bool redir_closed, plugged, unplugged;
static std::deque<std::pair<uint64_t, uint32_t>> pending_in;  // bulk IN requests: id, bytes asked
static std::vector<uint8_t> transfer;  // the packets sent so far into the oldest request
static int transfer_data;              // data bytes among them

static int control_listener = -1, control_fd = -1;
static std::string control_in;

static std::vector<std::string> made_sockets;  // unlinked at exit

static void say(const char *who, const char *fmt, va_list ap)
{
	fprintf(stderr, "ft232r%s%s: ", who ? " " : "", who ? who : "");
	vfprintf(stderr, fmt, ap);
	fputc('\n', stderr);
}

__attribute__((format(printf, 1, 2))) static void note(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	say(serial_text, fmt, ap);
	va_end(ap);
}

[[noreturn]] __attribute__((format(printf, 2, 3))) static void fail(int status, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	say(nullptr, fmt, ap);
	va_end(ap);
	exit(status);
}

static int64_t clock_ns()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return t.tv_sec * 1000000000LL + t.tv_nsec;
}

static const char *flow_name(int flow)
{
	return flow & 1 ? "rts-cts" : flow & 2 ? "dtr-dsr" : flow & 4 ? "xon-xoff" : "none";
}

static std::string summary()
{
	char s[512];
	snprintf(s, sizeof s,
	         "board %s: %" PRIu64 " bytes sent, %" PRIu64 " delivered, %" PRIu64 " lost in %" PRIu64
	         " packets, held off %" PRIu64 " times; host: baud %" PRIu32
	         ", bits %d, parity %s, stop %s, flow %s, latency %d ms",
	         serial_text, sent, delivered, lost, overrun_packets, held_off, host_line.baud,
	         host_line.bits, parity_names[host_line.parity & 7], stop_names[host_line.stop & 7],
	         flow_name(host_flow), latency_ms);
	return s;
}

static void print_summary()
{
	printf("%s\n", summary().c_str());
	fflush(stdout);
}

// ------------------------------------------------------------ the line

// The chip's divisor of its 3 MHz clock: 14 bits of integer part in wValue
// and eighths coded in wValue's top two bits and wIndex's bit 0; integer
// parts 0 and 1 stand for 1 and 1.5.
static uint32_t decode_baud(uint16_t value, uint16_t index)
{
	static const uint32_t eighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};
	uint32_t n = value & 0x3fff;
	uint32_t div8 = n == 0 ? 8 : n == 1 ? 12 : 8 * n + eighths[value >> 14 | (index & 1) << 2];
	return (8 * base_clock + div8 / 2) / div8;
}

static int bits_per_byte(const Line &l)
{
	return 1 + l.bits + (l.parity != 0) + (l.stop == 0 ? 1 : 2);
}

// Two ends' clocks may differ by a few per cent and still agree.
static bool same_line(const Line &a, const Line &b)
{
	return a.bits == b.bits && a.parity == b.parity && a.stop == b.stop &&
	       a.baud * 100ull <= b.baud * 103ull && b.baud * 100ull <= a.baud * 103ull;
}

static bool board_waiting()
{
	int n = 0;
	return board_pos < board_bytes.size() ||
	       (board_fd >= 0 && ioctl(board_fd, FIONREAD, &n) == 0 && n > 0);
}

// With the RTS/CTS handshake the chip drives RTS from the FIFO's room,
// otherwise RTS is what the host set.
static void update_rts()
{
	bool r = host_flow & 1 ? fifo_count < fifo_size - rts_room : host_rts;
	if (rts && !r && honours_cts && !unplugged && board_waiting())
		held_off++;
	rts = r;
}

static void purge_rx()
{
	fifo_count = 0;
	overrun = false;
	update_rts();
}

// The chip's state after power-on or a USB reset.
static void power_on()
{
	host_line = {9600, 8, 0, 0};
	host_flow = 0;
	host_dtr = host_rts = false;
	latency_ms = 16;
	configuration = 0;
	purge_rx();
}

static void receive(uint8_t b)
{
	if (board_line.bits == 7)
		b &= 0x7f;
	uint16_t e = b;
	if (!same_line(host_line, board_line))
		e = (b ^ 0x55) | garbled;
	if (host_line.bits == 7)
		e &= garbled | 0x7f;
	if (fifo_count == fifo_size) {
		lost++;
		overrun = true;
		return;
	}
	fifo[(fifo_head + fifo_count++) % fifo_size] = e;
	update_rts();
}

// The chip sends a packet as soon as it holds 62 bytes, and what it holds,
// if only the status, when the latency timer runs out.  Packets go into the
// oldest IN request, as on the wire into the host controller's transfer,
// which ends full or with a short packet.
static void send_packet(int n)
{
	size_t at = transfer.size();
	transfer.push_back(modem_status);
	transfer.push_back(line_idle);
	for (int i = 0; i < n; i++) {
		uint16_t e = fifo[fifo_head];
		fifo_head = (fifo_head + 1) % fifo_size;
		fifo_count--;
		transfer.push_back((uint8_t)e);
		if (e & garbled)
			transfer[at + 1] |= line_framing;
	}
	if (n > 0 && overrun) {
		transfer[at + 1] |= line_overrun;
		overrun = false;
		overrun_packets++;
	}
	transfer_data += n;
	last_packet = now;
	update_rts();
	auto [id, asked] = pending_in.front();
	if (n == packet_data && transfer.size() + max_packet <= asked)
		return;
	usb_redir_bulk_packet_header h = {};
	h.endpoint = ep_in;
	h.status = usb_redir_success;
	h.length = (uint16_t)transfer.size();
	h.length_high = (uint16_t)(transfer.size() >> 16);
	usbredirparser_send_bulk_packet(parser, id, &h, transfer.data(), (int)transfer.size());
	pending_in.pop_front();
	transfer.clear();
	delivered += transfer_data;
	transfer_data = 0;
}

static void serve_in()
{
	while (!pending_in.empty() && !unplugged) {
		if (fifo_count >= packet_data)
			send_packet(packet_data);
		else if (now - last_packet >= std::max(latency_ms, 1) * ms_ns)
			send_packet(fifo_count);
		else
			break;
	}
}

// The board's next byte, if it has one now.  Its socket is read no further
// ahead than the line may take bytes, so that its writer waits.
static bool board_next(uint8_t *b, size_t ahead)
{
	if (board_pos == board_bytes.size() && board_fd >= 0) {
		board_bytes.resize(std::clamp<size_t>(ahead, 1, fifo_size));
		board_pos = 0;
		ssize_t r = read(board_fd, board_bytes.data(), board_bytes.size());
		board_starved = r < 0 && (errno == EAGAIN || errno == EINTR);
		if (r <= 0 && !board_starved) {
			note("board: %s", r ? strerror(errno) : "end of its bytes");
			close(board_fd);
			board_fd = -1;
		}
		board_bytes.resize(r > 0 ? r : 0);
	}
	if (board_pos == board_bytes.size())
		return false;
	*b = board_bytes[board_pos++];
	return true;
}

// Moves the board's bytes into the FIFO for the line time since the last
// step, at the rate the host set: the receiver samples with its own clock.
static void move_line()
{
	double rate = (double)host_line.baud / bits_per_byte(host_line);  // bytes per second
	credit += std::min((double)(now - line_time) / 1e9, max_step_s) * rate;
	line_time = now;
	if (unplugged)
		credit = 0;
	while (credit >= 1) {
		uint8_t b;
		if ((honours_cts && !rts) || !board_next(&b, (size_t)credit)) {
			credit = std::min(credit, 1.0);  // an idle line saves no time
			return;
		}
		credit--;
		sent++;
		receive(b);
		serve_in();
	}
}

static bool board_can_send()
{
	return !unplugged && (rts || !honours_cts);
}

// ------------------------------------------------------------ the USB side

static bool standard_request(const usb_redir_control_packet_header *h, std::vector<uint8_t> *in)
{
	// clang-format off
	static const uint8_t device[] = {
		18, 1, 0x00, 0x02, 0, 0, 0, ep0_max_packet,             // USB 2.0, class by interface
		vendor_id & 0xff, vendor_id >> 8, product_id & 0xff, product_id >> 8,
		device_bcd & 0xff, device_bcd >> 8, 1, 2, 3, 1,         // strings; one configuration
	};
	static const uint8_t config[] = {
		9, 2, 32, 0, 1, 1, 0, 0xa0, 45,                         // bus powered, remote wakeup, 90 mA
		9, 4, 0, 0, 2, 0xff, 0xff, 0xff, 2,                     // vendor class, two endpoints
		7, 5, ep_in, 2, max_packet, 0, 0,                       // bulk
		7, 5, ep_out, 2, max_packet, 0, 0,
	};
	// clang-format on
	if (h->requesttype == 0x80 && h->request == 6) {  // GET_DESCRIPTOR
		unsigned index = h->value & 0xff;
		switch (h->value >> 8) {
		case 1:
			in->assign(device, device + sizeof device);
			return true;
		case 2:
			in->assign(config, config + sizeof config);
			return true;
		case 3:
			if (index == 0) {
				*in = {4, 3, 0x09, 0x04};  // US English
			} else if (index <= 3) {
				const char *t = index == 1 ? "FTDI" : index == 2 ? product_text : serial_text;
				*in = {(uint8_t)(2 + 2 * strlen(t)), 3};
				for (; *t; t++)
					in->insert(in->end(), {(uint8_t)*t, 0});  // UTF-16LE
			}
			return index <= 3;
		}
		return false;  // a full-speed device: no qualifier, no BOS
	}
	if (h->request == 0 && (h->requesttype & 0x80)) {  // GET_STATUS
		*in = {0, 0};
		return true;
	}
	return h->request == 1 || h->request == 3;  // CLEAR_FEATURE, SET_FEATURE
}

static bool vendor_request(const usb_redir_control_packet_header *h, std::vector<uint8_t> *in)
{
	uint16_t v = h->value;
	if (h->requesttype & 0x80) {
		switch (h->request) {
		case req_modem_status:
			*in = {modem_status, line_idle};
			note("host reads the modem status");
			return true;
		case req_get_latency:
			*in = {(uint8_t)latency_ms};
			note("host reads the latency timer");
			return true;
		case req_read_eeprom:  // only the CBUS word matters: the pins as shipped, none a GPIO
			*in = h->index == 0x0a ? std::vector<uint8_t>{0x23, 0x10}
			                       : std::vector<uint8_t>{0, 0};
			note("host reads EEPROM word 0x%02x", h->index);
			return true;
		}
		return false;
	}
	switch (h->request) {
	case req_reset:
		if (v <= 1)
			purge_rx();
		note("host %s", v == 0 ? "resets the port" : v == 1 ? "purges RX" : "purges TX");
		return true;
	case req_modem_ctrl:
		if (v & 0x100)
			host_dtr = v & 1;
		if (v & 0x200)
			host_rts = v & 2;
		update_rts();
		note("host sets DTR %s, RTS %s", host_dtr ? "on" : "off", host_rts ? "on" : "off");
		return true;
	case req_flow_ctrl:
		host_flow = h->index >> 8;
		update_rts();
		note("host sets flow control %s", flow_name(host_flow));
		return true;
	case req_baud:
		host_line.baud = decode_baud(v, h->index);
		note("host sets %" PRIu32 " baud (wValue 0x%04x, wIndex 0x%04x)", host_line.baud, v,
		     h->index);
		return true;
	case req_data:
		host_line.bits = v & 0xff;
		host_line.parity = v >> 8 & 7;
		host_line.stop = v >> 11 & 7;
		note("host sets %d data bits, parity %s, stop bits %s%s", host_line.bits,
		     parity_names[host_line.parity], stop_names[host_line.stop], v & 0x4000 ? ", break" : "");
		return true;
	case req_event_char:
	case req_error_char:
		note("host sets the %s character 0x%04x", h->request == req_event_char ? "event" : "error",
		     v);
		return true;
	case req_set_latency:
		latency_ms = v & 0xff;
		note("host sets the latency timer to %d ms", latency_ms);
		return true;
	}
	return false;
}

static void on_control(void *, uint64_t id, usb_redir_control_packet_header *h, uint8_t *data, int)
{
	usbredirparser_free_packet_data(parser, data);
	std::vector<uint8_t> in;
	int type = h->requesttype & 0x60;
	bool ok = type == 0x40 ? vendor_request(h, &in) : type == 0 && standard_request(h, &in);
	if (!ok) {
		note("host asks request 0x%02x type 0x%02x value 0x%04x index 0x%04x: stalled", h->request,
		     h->requesttype, h->value, h->index);
		in.clear();
	}
	h->status = ok ? usb_redir_success : usb_redir_stall;
	if (h->requesttype & 0x80) {
		in.resize(std::min<size_t>(in.size(), h->length));
		h->length = (uint16_t)in.size();
	} else if (!ok) {
		h->length = 0;
	}
	usbredirparser_send_control_packet(parser, id, h, in.data(),
	                                   (h->requesttype & 0x80) ? (int)in.size() : 0);
}

static void on_bulk(void *, uint64_t id, usb_redir_bulk_packet_header *h, uint8_t *data, int)
{
	usbredirparser_free_packet_data(parser, data);
	if (h->endpoint == ep_in) {
		pending_in.emplace_back(id, h->length | (uint32_t)h->length_high << 16);
		serve_in();
		return;
	}
	// Nothing listens on the board's side: bytes for it go nowhere.
	h->status = h->endpoint == ep_out ? usb_redir_success : usb_redir_stall;
	if (h->endpoint != ep_out)
		h->length = h->length_high = 0;
	usbredirparser_send_bulk_packet(parser, id, h, nullptr, 0);
}

static void on_cancel(void *, uint64_t id)
{
	auto i = std::find_if(pending_in.begin(), pending_in.end(), [id](auto &p) { return p.first == id; });
	if (i == pending_in.end())
		return;
	if (i == pending_in.begin()) {  // what it got goes with it, as with a real host controller
		transfer.clear();
		transfer_data = 0;
	}
	pending_in.erase(i);
	usb_redir_bulk_packet_header h = {};
	h.endpoint = ep_in;
	h.status = usb_redir_cancelled;
	usbredirparser_send_bulk_packet(parser, id, &h, nullptr, 0);
}

// QEMU wants the interface before the device, or it rejects the device.
static void on_hello(void *, usb_redir_hello_header *)
{
	usb_redir_interface_info_header intf = {};
	intf.interface_count = 1;
	intf.interface_class[0] = intf.interface_subclass[0] = intf.interface_protocol[0] = 0xff;
	usbredirparser_send_interface_info(parser, &intf);

	usb_redir_ep_info_header ep = {};  // indexed by endpoint number, plus 16 going IN
	memset(ep.type, usb_redir_type_invalid, sizeof ep.type);
	ep.type[0] = ep.type[16] = usb_redir_type_control;
	ep.max_packet_size[0] = ep.max_packet_size[16] = ep0_max_packet;
	ep.type[16 + (ep_in & 0x0f)] = ep.type[ep_out] = usb_redir_type_bulk;
	ep.max_packet_size[16 + (ep_in & 0x0f)] = ep.max_packet_size[ep_out] = max_packet;
	usbredirparser_send_ep_info(parser, &ep);

	usb_redir_device_connect_header dev = {usb_redir_speed_full, 0,         0, 0, vendor_id,
	                                       product_id,           device_bcd};
	usbredirparser_send_device_connect(parser, &dev);
	plugged = true;
	note("plugged in");
}

static void unplug()
{
	if (unplugged)
		return;
	unplugged = true;  // from now on, what QEMU sends goes unread
	pending_in.clear();
	transfer.clear();
	if (plugged)
		usbredirparser_send_device_disconnect(parser);
	note("unplugged");
	print_summary();
}

static int redir_read(void *, uint8_t *data, int count)
{
	ssize_t r = read(redir_fd, data, count);
	if (r > 0)
		return (int)r;
	if (r < 0 && (errno == EAGAIN || errno == EINTR))
		return 0;
	redir_closed = true;
	return -1;
}

static int redir_write(void *, uint8_t *data, int count)
{
	ssize_t w = send(redir_fd, data, count, MSG_NOSIGNAL);
	if (w >= 0)
		return (int)w;
	if (errno == EAGAIN || errno == EINTR)
		return 0;
	redir_closed = true;
	return -1;
}

static void start_parser()
{
	parser = usbredirparser_create();
	if (!parser)
		fail(1, "out of memory");
	parser->log_func = [](void *, int level, const char *msg) {
		if (level <= usbredirparser_warning)
			note("%s", msg);
	};
	parser->read_func = redir_read;
	parser->write_func = redir_write;
	parser->hello_func = on_hello;
	parser->reset_func = [](void *) {
		note("host resets the device");
		power_on();
	};
	parser->set_configuration_func = [](void *, uint64_t id, usb_redir_set_configuration_header *c) {
		usb_redir_configuration_status_header s = {usb_redir_success, c->configuration};
		if (c->configuration > 1)
			s.status = usb_redir_stall;
		else
			configuration = c->configuration;
		usbredirparser_send_configuration_status(parser, id, &s);
	};
	parser->get_configuration_func = [](void *, uint64_t id) {
		usb_redir_configuration_status_header s = {usb_redir_success, configuration};
		usbredirparser_send_configuration_status(parser, id, &s);
	};
	parser->set_alt_setting_func = [](void *, uint64_t id, usb_redir_set_alt_setting_header *a) {
		usb_redir_alt_setting_status_header s = {usb_redir_success, a->interface, a->alt};
		if (a->interface != 0 || a->alt != 0)
			s.status = usb_redir_stall;
		usbredirparser_send_alt_setting_status(parser, id, &s);
	};
	parser->get_alt_setting_func = [](void *, uint64_t id, usb_redir_get_alt_setting_header *a) {
		usb_redir_alt_setting_status_header s = {usb_redir_success, a->interface, 0};
		if (a->interface != 0)
			s.status = usb_redir_stall;
		usbredirparser_send_alt_setting_status(parser, id, &s);
	};
	parser->cancel_data_packet_func = on_cancel;
	parser->control_packet_func = on_control;
	parser->bulk_packet_func = on_bulk;
	// What QEMU has no cause to send to a device without isochronous or
	// interrupt endpoints: the parser calls a callback for whatever comes.
	parser->start_iso_stream_func = [](void *, uint64_t, usb_redir_start_iso_stream_header *) {};
	parser->stop_iso_stream_func = [](void *, uint64_t, usb_redir_stop_iso_stream_header *) {};
	parser->start_interrupt_receiving_func = [](void *, uint64_t,
	                                            usb_redir_start_interrupt_receiving_header *) {};
	parser->stop_interrupt_receiving_func = [](void *, uint64_t,
	                                           usb_redir_stop_interrupt_receiving_header *) {};
	parser->alloc_bulk_streams_func = [](void *, uint64_t, usb_redir_alloc_bulk_streams_header *) {};
	parser->free_bulk_streams_func = [](void *, uint64_t, usb_redir_free_bulk_streams_header *) {};
	parser->iso_packet_func = [](void *, uint64_t, usb_redir_iso_packet_header *, uint8_t *d, int) {
		usbredirparser_free_packet_data(parser, d);
	};
	parser->interrupt_packet_func = [](void *, uint64_t, usb_redir_interrupt_packet_header *, uint8_t *d,
	                                   int) { usbredirparser_free_packet_data(parser, d); };

	// QEMU's xhci wants packet sizes, 64-bit ids and 32-bit lengths.  No
	// bulk_receiving: QEMU would then buffer an FTDI device's bulk IN
	// itself, and the guest's throttling would never reach the FIFO.
	uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
	usbredirparser_caps_set_cap(caps, usb_redir_cap_connect_device_version);
	usbredirparser_caps_set_cap(caps, usb_redir_cap_ep_info_max_packet_size);
	usbredirparser_caps_set_cap(caps, usb_redir_cap_64bits_ids);
	usbredirparser_caps_set_cap(caps, usb_redir_cap_32bits_bulk_length);
	usbredirparser_init(parser, "ft232r model", caps, USB_REDIR_CAPS_SIZE, usbredirparser_fl_usb_host);
}

// ------------------------------------------------------------ sockets

static void unlink_sockets()
{
	for (auto &p : made_sockets)
		unlink(p.c_str());
}

// A socket at PATH, left by an earlier run, is replaced.
static int listen_at(const char *path)
{
	sockaddr_un a = {};
	a.sun_family = AF_UNIX;
	if (strlen(path) >= sizeof a.sun_path)
		fail(2, "%s: too long a path for a unix socket", path);
	strcpy(a.sun_path, path);
	struct stat st;
	if (lstat(path, &st) == 0 && S_ISSOCK(st.st_mode))
		unlink(path);
	int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
	if (fd < 0 || bind(fd, (sockaddr *)&a, sizeof a) < 0 || listen(fd, 1) < 0)
		fail(1, "cannot listen on %s: %s", path, strerror(errno));
	made_sockets.push_back(path);
	return fd;
}

// Takes the one connection a listener is for, and closes the listener.
static int accept_one(int *listener)
{
	int fd = accept4(*listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
	if (fd >= 0) {
		close(*listener);
		*listener = -1;
	}
	return fd;
}

static bool parse_line(const char *s, Line *l)
{
	char *end;
	errno = 0;
	unsigned long baud = strtoul(s, &end, 10);
	if (errno || end == s || baud < 300 || baud > 3000000 || *end != ',' || strlen(end) != 4)
		return false;
	const char *parities = "NOEMS";
	const char *p = strchr(parities, end[2]);
	if ((end[1] != '7' && end[1] != '8') || !end[2] || !p || (end[3] != '1' && end[3] != '2'))
		return false;
	*l = {(uint32_t)baud, end[1] - '0', (int)(p - parities), end[3] == '1' ? 0 : 2};
	return true;
}

// The scenario before is forgotten: what its board still had on the way is
// read until the socket has been quiet for quiet_ms and dropped, with the
// FIFO and the counts.
constexpr int quiet_ms = 200;

static void reset_board()
{
	for (pollfd p = {board_fd, POLLIN, 0}; board_fd >= 0 && poll(&p, 1, quiet_ms) > 0;) {
		uint8_t junk[4096];
		ssize_t r = read(board_fd, junk, sizeof junk);
		if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR))
			break;
	}
	board_bytes.clear();
	board_pos = 0;
	credit = 0;
	sent = delivered = lost = held_off = overrun_packets = 0;
	board_line = first_line;
	purge_rx();
	note("reset");
}

static void control_input()
{
	char buf[256];
	ssize_t r = read(control_fd, buf, sizeof buf);
	if (r < 0 && (errno == EAGAIN || errno == EINTR))
		return;
	if (r <= 0) {
		close(control_fd);
		control_fd = -1;
		return;
	}
	control_in.append(buf, r);
	for (size_t nl; (nl = control_in.find('\n')) != std::string::npos;) {
		std::string command = control_in.substr(0, nl), answer;
		control_in.erase(0, nl + 1);
		if (!command.empty() && command.back() == '\r')
			command.pop_back();
		if (command == "summary") {
			answer = summary();
		} else if (command == "unplug") {
			unplug();
			answer = "unplugged";
		} else if (command == "reset") {
			reset_board();
			answer = "reset";
		} else if (command.rfind("line ", 0) == 0 && parse_line(command.c_str() + 5, &board_line)) {
			note("the board's line is now %s", command.c_str() + 5);
			answer = "line set";
		} else {
			answer = "error: unknown command";
		}
		answer += '\n';
		if (send(control_fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0)
			note("control: %s", strerror(errno));
	}
	if (control_in.size() > 4096)
		control_in.clear();
}

static void load_board(const char *path)
{
	FILE *f = fopen(path, "rb");
	for (int c; f && (c = getc(f)) != EOF;)
		board_bytes.push_back((uint8_t)c);
	if (!f || ferror(f))
		fail(2, "cannot read %s: %s", path, strerror(errno));
	fclose(f);
}

int main(int argc, char **argv)
{
	const char *redir_path = nullptr, *board_path = nullptr, *control_path = nullptr;
	for (int i = 1; i < argc; i++) {
		const char *a = argv[i];
		const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
		if (!strcmp(a, "-h") || !strcmp(a, "--help")) {
			fputs(usage_text, stdout);
			return 0;
		} else if (!strcmp(a, "--no-handshake")) {
			honours_cts = false;
		} else if (next && !strcmp(a, "--usbredir")) {
			redir_path = argv[++i];
		} else if (next && !strcmp(a, "--serial") && strlen(next) <= 126) {
			serial_text = argv[++i];
		} else if (next && !strcmp(a, "--product") && strlen(next) <= 126) {
			product_text = argv[++i];
		} else if (next && !strcmp(a, "--board")) {
			board_path = argv[++i];
		} else if (next && !strcmp(a, "--control")) {
			control_path = argv[++i];
		} else if (next && !strcmp(a, "--line") && parse_line(next, &board_line)) {
			i++;
		} else {
			fprintf(stderr, "ft232r: bad argument '%s'\nTry 'ft232r --help'.\n", a);
			return 2;
		}
	}
	first_line = board_line;
	if (!redir_path || !serial_text) {
		fprintf(stderr, "ft232r: --usbredir and --serial are needed\nTry 'ft232r --help'.\n");
		return 2;
	}

	atexit(unlink_sockets);
	signal(SIGPIPE, SIG_IGN);
	sigset_t signals;
	sigemptyset(&signals);
	for (int s : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT})
		sigaddset(&signals, s);
	sigprocmask(SIG_BLOCK, &signals, nullptr);
	int signal_fd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);

	struct stat st;
	if (board_path && stat(board_path, &st) == 0 && S_ISREG(st.st_mode))
		load_board(board_path);
	else if (board_path)
		board_listener = listen_at(board_path);
	if (control_path)
		control_listener = listen_at(control_path);
	redir_listener = listen_at(redir_path);
	printf("ready\n");
	fflush(stdout);

	now = line_time = clock_ns();
	power_on();
	for (;;) {
		// Every fd that can wake the loop, and -1 for those that cannot now.
		bool board_idle = board_fd >= 0 && board_starved && board_can_send();
		pollfd fds[] = {
		        {signal_fd, POLLIN, 0},
		        {redir_fd >= 0 ? redir_fd : redir_listener,
		         (short)(POLLIN | (parser && usbredirparser_has_data_to_write(parser) ? POLLOUT : 0)),
		         0},
		        {board_fd >= 0 ? (board_idle ? board_fd : -1) : board_listener, POLLIN, 0},
		        {control_fd >= 0 ? control_fd : control_listener, POLLIN, 0},
		};
		bool flowing = board_can_send() &&
		               (board_pos < board_bytes.size() || (board_fd >= 0 && !board_starved));
		if (poll(fds, 4, !pending_in.empty() || flowing ? 1 : -1) < 0 && errno != EINTR)
			fail(1, "poll: %s", strerror(errno));
		now = clock_ns();

		signalfd_siginfo si;
		while (read(signal_fd, &si, sizeof si) == sizeof si) {
			if (si.ssi_signo == SIGUSR1) {
				print_summary();
			} else if (si.ssi_signo == SIGUSR2) {
				unplug();
			} else {
				print_summary();
				return 0;
			}
		}
		if (fds[1].revents && !parser) {
			if ((redir_fd = accept_one(&redir_listener)) >= 0)
				start_parser();
		} else if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
			uint8_t junk[4096];
			if (!unplugged)
				usbredirparser_do_read(parser);
			else
				redir_read(nullptr, junk, sizeof junk);
		}
		if (fds[2].revents && board_fd < 0)
			board_fd = accept_one(&board_listener);
		else if (fds[2].revents)
			board_starved = false;
		if (fds[3].revents && control_fd < 0)
			control_fd = accept_one(&control_listener);
		else if (fds[3].revents)
			control_input();

		move_line();
		serve_in();
		if (parser && usbredirparser_has_data_to_write(parser))
			usbredirparser_do_write(parser);
		if (redir_closed) {
			note("QEMU closed the connection");
			print_summary();
			return 0;
		}
	}
}
