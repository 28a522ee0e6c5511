// Real FT232R devices through Linux's usb-serial layer (the ftdi_sio driver):
// the list from sysfs, the port itself through termios.
//
// PLATFORM       Linux; chosen when VELMORA_BOARD is unset.
// LIMITATIONS    every usb-serial port (ttyUSB*) is listed, whatever chip
//                is behind it, as FT_DEVICE_232R with its USB product string
//                as description, so the program picks its board by that
//                string.  Baud rates only where termios has a B-constant
//                (1500000 has); others are FT_INVALID_BAUD_RATE.  No DTR/DSR
//                flow control (FT_NOT_SUPPORTED).  The latency timer is set
//                to 1 ms through its sysfs file where that is writable (root),
//                else through the driver's low-latency flag (TIOCSSERIAL,
//                which any user who may open the port may set); where
//                neither works it stays as it was, and stderr says so.
//                The chip's own receive buffer cannot be emptied through the
//                driver: a purge drops what the chip hands over within its
//                latency timer too.
// CONFIGURATION  read when chosen:
//   VELMORA_TTY_SYSFS  sysfs root, default /sys
//   VELMORA_TTY_DEV    folder of the device nodes, default /dev
//
// LocId: the bus number, then one hex digit per port on the USB path from
// the root hub down: bus 1 port 2 is 0x12; bus 3, hub on port 1, its port 4
// is 0x314.  Ports above 15 keep their low 4 bits, and digits shifted past
// 32 bits are lost, so it names a place for a person, not uniquely.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "d2xx/backend.h"

static const char port_prefix[] = "ttyUSB";
static const char ports_folder[] = "/bus/usb-serial/devices";  // under the sysfs root

static char sysfs_root[PATH_MAX / 2];
static char dev_root[PATH_MAX / 2];
static bool sw_port_open[max_devices];              // per slot
static int port_fd[max_devices];                    // valid while sw_port_open
static char port_name[max_devices][max_port_name];  // "ttyUSB2"
static bool sw_gone[max_devices];                   // its failure already reported
static dev_t port_node[max_devices];                // its device number as listed

// Line errors the driver counted (TIOCGICOUNT), per slot, since the port
// was set up and purged (what arrived before, at the driver's own settings,
// is no fault of the board's): the counts last seen and when each last
// grew, so that a burst is reported once.
constexpr int64_t burst_gap_ms = 1000;  // this long without a new error ends a burst
struct line_errors {
	bool sw_counted;                 // the port keeps counts (a pty does not)
	serial_icounter_struct at_open;  // the driver's counts since the plug, as they were at the purge
	int overrun, garbled;            // garbled: framing and parity errors
	int64_t overrun_ms, garbled_ms;  // last growth; -1: none yet
};
static line_errors errors[max_devices];

constexpr int default_latency_ms = 16;  // ftdi_sio's latency timer unless told otherwise
constexpr int settle_ms = 4;            // the chip's last packet to reach the driver's buffer, at most
static int latency_ms[max_devices];     // the latency timer in force, as far as is known

static void tty_close(int slot)
{
	if (sw_port_open[slot])
		close(port_fd[slot]);
	sw_port_open[slot] = false;
}

static void take_root(char *to, size_t size, const char *name, const char *fallback)
{
	const char *v = getenv(name);
	if (!v || !*v)
		v = fallback;
	d2xx_copy(to, size, v, strlen(v));
}

static void tty_init()
{
	for (uint32_t i = 0; i < max_devices; i++)
		tty_close((int)i);
	take_root(sysfs_root, sizeof sysfs_root, "VELMORA_TTY_SYSFS", "/sys");
	take_root(dev_root, sizeof dev_root, "VELMORA_TTY_DEV", "/dev");
}

// The port number of a ttyUSB<digits> name.
static bool port_number(const char *name, uint32_t *n)
{
	size_t len = sizeof port_prefix - 1;
	if (strncmp(name, port_prefix, len) != 0 || name[len] == '\0' ||
	    (name[len] == '0' && name[len + 1] != '\0'))
		return false;
	uint32_t v = 0;
	for (const char *p = name + len; *p; p++) {
		if (*p < '0' || *p > '9' || v > 99999999)
			return false;
		v = v * 10 + (uint32_t)(*p - '0');
	}
	*n = v;
	return true;
}

// A sysfs attribute without its trailing newline; "" when it cannot be read.
static void read_attribute(const char *folder, const char *name, char *to, size_t size)
{
	char path[PATH_MAX];
	to[0] = '\0';
	if (snprintf(path, sizeof path, "%s/%s", folder, name) >= (int)sizeof path)
		return;
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return;
	ssize_t k = read(fd, to, size - 1);
	close(fd);
	if (k < 0)
		k = 0;
	while (k > 0 && (to[k - 1] == '\n' || to[k - 1] == '\r'))
		k--;
	to[k] = '\0';
}

static uint32_t attribute_number(const char *folder, const char *name, int base)
{
	char text[32];
	read_attribute(folder, name, text, sizeof text);
	char *end;
	unsigned long v = strtoul(text, &end, base);
	return end != text && *end == '\0' ? (uint32_t)v : 0;
}

// Cuts the last path component off, in place.
static bool up(char *path)
{
	char *slash = strrchr(path, '/');
	if (!slash || slash == path)
		return false;
	*slash = '\0';
	return true;
}

static void describe(uint32_t number, d2xx_device *d)
{
	memset(d, 0, sizeof *d);
	snprintf(d->port, sizeof d->port, "%s%u", port_prefix, number);
	d->type = FT_DEVICE_232R;

	// The port's link leads to .../<usb device>/<interface>/ttyUSBn.
	char link[PATH_MAX], usb[PATH_MAX];
	snprintf(link, sizeof link, "%s%s/%s", sysfs_root, ports_folder, d->port);
	if (!realpath(link, usb))
		return;  // listed, blank

	char text[256], folder[PATH_MAX + max_port_name + 8];
	unsigned major, minor;
	char extra;
	snprintf(folder, sizeof folder, "%s/tty/%s", usb, d->port);
	read_attribute(folder, "dev", text, sizeof text);
	if (sscanf(text, "%u:%u%c", &major, &minor, &extra) == 2)
		d->node = makedev(major, minor);

	if (!up(usb) || !up(usb))
		return;

	d->id = attribute_number(usb, "idVendor", 16) << 16 | attribute_number(usb, "idProduct", 16);
	read_attribute(usb, "product", text, sizeof text);
	d2xx_copy(d->description, sizeof d->description, text, strlen(text));
	read_attribute(usb, "serial", text, sizeof text);
	d2xx_copy(d->serial, sizeof d->serial, text, strlen(text));

	uint32_t bus = attribute_number(usb, "busnum", 10);
	if (bus == 0)
		return;
	d->loc_id = bus;
	read_attribute(usb, "devpath", text, sizeof text);
	for (char *p = text; *p;) {
		char *end;
		unsigned long hop = strtoul(p, &end, 10);
		if (end == p)
			break;
		d->loc_id = d->loc_id << 4 | (uint32_t)(hop & 0xf);
		p = *end == '.' ? end + 1 : end;
	}
}

static FT_STATUS tty_list(d2xx_device *list, uint32_t max, uint32_t *count)
{
	char folder[PATH_MAX];
	*count = 0;
	snprintf(folder, sizeof folder, "%s%s", sysfs_root, ports_folder);
	DIR *dir = opendir(folder);
	if (!dir) {
		if (errno == ENOENT) {  // no usb-serial driver loaded: no ports
			d2xx_note("no serial ports: %s does not exist (no USB serial driver is loaded: "
			          "is the board plugged in? see dmesg)",
			          folder);
			return FT_OK;
		}
		d2xx_note("cannot list serial ports in %s: %s", folder, strerror(errno));
		return FT_IO_ERROR;
	}
	// The lowest port numbers, in numeric order (ttyUSB2 before ttyUSB10).
	uint32_t numbers[max_devices];
	uint32_t n = 0;
	if (max > max_devices)
		max = max_devices;
	bool sw_more = false;
	while (dirent *e = readdir(dir)) {
		uint32_t number;
		if (!port_number(e->d_name, &number))
			continue;
		uint32_t i = n;
		while (i > 0 && numbers[i - 1] > number)
			i--;
		if (i == max) {
			sw_more = true;
			continue;
		}
		if (n == max) {
			sw_more = true;
			n--;
		}
		memmove(&numbers[i + 1], &numbers[i], (n - i) * sizeof numbers[0]);
		numbers[i] = number;
		n++;
	}
	closedir(dir);
	if (sw_more)
		d2xx_note("more than %u serial ports; only the first %u are listed", max, max);
	for (uint32_t i = 0; i < n; i++)
		describe(numbers[i], &list[i]);
	*count = n;
	return FT_OK;
}

static FT_STATUS tty_open(int slot, const d2xx_device *dev)
{
	char path[PATH_MAX];
	snprintf(path, sizeof path, "%s/%s", dev_root, dev->port);
	int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0) {
		int e = errno;
		d2xx_note("cannot open %s: %s%s", path, strerror(e),
		          e == EACCES  ? " (is the user in the dialout group?)"
		          : e == EBUSY ? " (another program has it)"
		                       : "");
		return FT_DEVICE_NOT_OPENED;
	}
	// The node must be the port that was listed: an adapter replugged in
	// between may have left the name to another one.
	struct stat st;
	if (fstat(fd, &st) < 0 || !S_ISCHR(st.st_mode) || dev->node == 0 || st.st_rdev != dev->node) {
		d2xx_note("cannot open %s: it is not the %s listed a moment ago (replugged?)", path,
		          dev->port);
		close(fd);
		return FT_DEVICE_NOT_OPENED;
	}
	// TIOCEXCL keeps out other openers but not root; the lock keeps out a
	// second copy of this program, root's too.
	if (flock(fd, LOCK_EX | LOCK_NB) < 0) {
		d2xx_note("cannot lock %s: %s", path,
		          errno == EWOULDBLOCK ? "another program has it open" : strerror(errno));
		close(fd);
		return FT_DEVICE_NOT_OPENED;
	}
	termios t;
	if (ioctl(fd, TIOCEXCL) < 0 || tcgetattr(fd, &t) < 0) {
		d2xx_note("%s is not a serial port: %s", path, strerror(errno));
		close(fd);
		return FT_DEVICE_NOT_OPENED;
	}
	// Raw bytes; VMIN 1 so that a read of an empty port is EAGAIN and a
	// read returning 0 means hang-up.
	cfmakeraw(&t);
	t.c_cflag |= CLOCAL | CREAD;
	t.c_cc[VMIN] = 1;
	t.c_cc[VTIME] = 0;
	if (tcsetattr(fd, TCSANOW, &t) < 0) {
		d2xx_note("cannot set %s to raw mode: %s", path, strerror(errno));
		close(fd);
		return FT_DEVICE_NOT_OPENED;
	}
	port_fd[slot] = fd;
	sw_port_open[slot] = true;
	sw_gone[slot] = false;
	errors[slot] = {};
	errors[slot].sw_counted = ioctl(fd, TIOCGICOUNT, &errors[slot].at_open) == 0;
	errors[slot].overrun_ms = errors[slot].garbled_ms = -1;
	latency_ms[slot] = default_latency_ms;
	d2xx_copy(port_name[slot], sizeof port_name[slot], dev->port, strlen(dev->port));
	port_node[slot] = (dev_t)dev->node;
	return FT_OK;
}

// Any error of an open port is a failed device; say once why.
static FT_STATUS port_failed(int slot, const char *what, int e)
{
	if (!sw_gone[slot])
		d2xx_note("%s: %s: %s%s", port_name[slot], what, e ? strerror(e) : "hung up",
		          e == EIO || e == ENXIO || e == 0 ? " (device unplugged?)" : "");
	sw_gone[slot] = true;
	return FT_IO_ERROR;
}

// Sets the termios that change() makes, then reads it back: the driver may
// keep only part of it.
static FT_STATUS apply(int slot, void (*change)(termios *, const void *), const void *arg,
                       bool (*same)(const termios *, const termios *), FT_STATUS refused)
{
	termios want, got;
	if (tcgetattr(port_fd[slot], &want) < 0)
		return port_failed(slot, "tcgetattr", errno);
	change(&want, arg);
	if (tcsetattr(port_fd[slot], TCSANOW, &want) < 0) {
		if (errno == EIO || errno == ENXIO)
			return port_failed(slot, "tcsetattr", errno);
		return refused;
	}
	if (tcgetattr(port_fd[slot], &got) < 0)
		return port_failed(slot, "tcgetattr", errno);
	return same(&want, &got) ? FT_OK : refused;
}

struct baud_constant {
	uint32_t baud;
	speed_t speed;
};
static const baud_constant baud_constants[] = {
        {200, B200},         {300, B300},         {600, B600},         {1200, B1200},
        {1800, B1800},       {2400, B2400},       {4800, B4800},       {9600, B9600},
        {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
        {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
        {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
};

static void change_speed(termios *t, const void *arg)
{
	speed_t s = *(const speed_t *)arg;
	cfsetispeed(t, s);
	cfsetospeed(t, s);
}

static bool same_speed(const termios *want, const termios *got)
{
	return cfgetospeed(got) == cfgetospeed(want) && cfgetispeed(got) == cfgetispeed(want);
}

static FT_STATUS tty_set_baud_rate(int slot, uint32_t baud)
{
	for (const baud_constant &b : baud_constants)
		if (b.baud == baud)
			return apply(slot, change_speed, &b.speed, same_speed, FT_INVALID_BAUD_RATE);
	return FT_INVALID_BAUD_RATE;
}

struct flow_setting {
	uint16_t flow;
	uint8_t xon, xoff;
};

static void change_flow(termios *t, const void *arg)
{
	const flow_setting *f = (const flow_setting *)arg;
	t->c_cflag &= ~(tcflag_t)CRTSCTS;
	t->c_iflag &= ~(tcflag_t)(IXON | IXOFF | IXANY);
	if (f->flow == FT_FLOW_RTS_CTS)
		t->c_cflag |= CRTSCTS;
	if (f->flow == FT_FLOW_XON_XOFF) {
		t->c_iflag |= IXON | IXOFF;
		t->c_cc[VSTART] = f->xon;
		t->c_cc[VSTOP] = f->xoff;
	}
}

static bool same_flow(const termios *want, const termios *got)
{
	return (want->c_cflag & CRTSCTS) == (got->c_cflag & CRTSCTS) &&
	       (want->c_iflag & (IXON | IXOFF)) == (got->c_iflag & (IXON | IXOFF));
}

static FT_STATUS tty_set_flow_control(int slot, uint16_t flow, uint8_t xon, uint8_t xoff)
{
	if (flow == FT_FLOW_DTR_DSR)
		return FT_NOT_SUPPORTED;  // termios has no DTR/DSR handshake
	flow_setting f = {flow, xon, xoff};
	return apply(slot, change_flow, &f, same_flow, FT_IO_ERROR);
}

constexpr tcflag_t frame_bits = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;

static void change_frame(termios *t, const void *arg)
{
	t->c_cflag = (t->c_cflag & ~frame_bits) | *(const tcflag_t *)arg;
}

static bool same_frame(const termios *want, const termios *got)
{
	return (want->c_cflag & frame_bits) == (got->c_cflag & frame_bits);
}

static FT_STATUS tty_set_data_characteristics(int slot, uint8_t bits, uint8_t stop, uint8_t parity)
{
	static const tcflag_t parity_bits[] = {
	        0,                         // none
	        PARENB | PARODD,           // odd
	        PARENB,                    // even
	        PARENB | CMSPAR | PARODD,  // mark: always 1
	        PARENB | CMSPAR,           // space: always 0
	};
	tcflag_t frame =
	        (bits == FT_BITS_7 ? CS7 : CS8) | (stop == FT_STOP_BITS_2 ? CSTOPB : 0) | parity_bits[parity];
	return apply(slot, change_frame, &frame, same_frame, FT_IO_ERROR);
}

static FT_STATUS flush(int slot, int queues)
{
	if (tcflush(port_fd[slot], queues) < 0)
		return port_failed(slot, "tcflush", errno);
	return FT_OK;
}

static FT_STATUS tty_reset(int slot)
{
	return flush(slot, TCIOFLUSH);
}

static void sleep_ms(int64_t ms)
{
	timespec t = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000};
	while (nanosleep(&t, &t) < 0 && errno == EINTR) {
	}
}

// tcflush empties the driver's buffers, not the chip's: what the chip held
// comes in within its latency timer, so that is waited for and dropped too.
// Until then the bytes may be from before the port's settings (on the first
// open after a plug the driver raises RTS at 9600 baud), so the line errors
// are counted from here.
static FT_STATUS tty_purge(int slot, uint32_t mask)
{
	if (mask == FT_PURGE_TX)
		return flush(slot, TCOFLUSH);
	FT_STATUS s = flush(slot, mask == FT_PURGE_RX ? TCIFLUSH : TCIOFLUSH);
	if (s != FT_OK)
		return s;
	sleep_ms(latency_ms[slot] + settle_ms);
	s = flush(slot, TCIFLUSH);
	line_errors &e = errors[slot];
	if (s == FT_OK && e.sw_counted)
		e.sw_counted = ioctl(port_fd[slot], TIOCGICOUNT, &e.at_open) == 0;
	return s;
}

// ftdi_sio holds received bytes up to 16 ms by default; 1 ms keeps the
// display close to the board.  sysfs takes it from root only; the driver's
// low-latency flag, from anyone who may open the port.  A refusal of both
// is no failure, but said once.
static FT_STATUS tty_set_usb_parameters(int slot, uint32_t, uint32_t)
{
	char folder[PATH_MAX], path[PATH_MAX + 16];
	snprintf(folder, sizeof folder, "%s%s/%s", sysfs_root, ports_folder, port_name[slot]);
	snprintf(path, sizeof path, "%s/latency_timer", folder);
	int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
	bool sw_written = fd >= 0 && write(fd, "1\n", 2) == 2;
	int sysfs_errno = sw_written ? 0 : errno;
	if (fd >= 0)
		close(fd);
	if (sw_written) {
		latency_ms[slot] = 1;
		return FT_OK;
	}
	serial_struct ss;
	if (ioctl(port_fd[slot], TIOCGSERIAL, &ss) == 0) {
		ss.flags |= ASYNC_LOW_LATENCY;
		if (ioctl(port_fd[slot], TIOCSSERIAL, &ss) == 0) {
			latency_ms[slot] = 1;
			return FT_OK;
		}
	}
	int serial_errno = errno;
	uint32_t timer = attribute_number(folder, "latency_timer", 10);
	if (timer > 0)
		latency_ms[slot] = (int)timer;
	d2xx_note("%s: the driver's latency timer stays at %d ms (its sysfs file: %s; TIOCSSERIAL: %s): "
	          "frames may reach the display up to %d ms late",
	          port_name[slot], latency_ms[slot], strerror(sysfs_errno), strerror(serial_errno),
	          latency_ms[slot]);
	return FT_OK;
}

static FT_STATUS tty_queue_status(int slot, uint32_t *count)
{
	int fd = port_fd[slot];
	int n = 0;
	if (ioctl(fd, FIONREAD, &n) < 0)
		return port_failed(slot, "FIONREAD", errno);
	if (n == 0) {
		// Nothing to read may also mean the adapter has gone.
		pollfd p = {fd, POLLIN, 0};
		if (poll(&p, 1, 0) < 0 && errno != EINTR)
			return port_failed(slot, "poll", errno);
		if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
			return port_failed(slot, "poll", 0);
	}
	*count = n > 0 ? (uint32_t)n : 0;
	return FT_OK;
}

static FT_STATUS tty_wait(int slot, int fd, int64_t timeout_us)
{
	pollfd p[2] = {{port_fd[slot], POLLIN, 0}, {fd, POLLIN, 0}};
	d2xx_poll(p, fd >= 0 ? 2 : 1, timeout_us);
	return FT_OK;
}

static int64_t now_ms()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// Whether a count that grew from *seen to now starts a new burst.
static bool new_burst(int now, int *seen, int64_t *last_ms, int64_t t)
{
	if (now <= *seen)
		return false;
	bool sw_new = *last_ms < 0 || t - *last_ms >= burst_gap_ms;
	*seen = now;
	*last_ms = t;
	return sw_new;
}

// Bytes the board sent that the port lost or received garbled: the picture
// goes on, but say why it may be wrong, once a burst, with the running count.
static void report_line_errors(int slot)
{
	line_errors &e = errors[slot];
	serial_icounter_struct ic;
	if (!e.sw_counted || ioctl(port_fd[slot], TIOCGICOUNT, &ic) < 0)
		return;
	int64_t t = now_ms();
	const serial_icounter_struct &o = e.at_open;
	int frame = ic.frame - o.frame, parity = ic.parity - o.parity;
	if (new_burst(ic.overrun - o.overrun + ic.buf_overrun - o.buf_overrun, &e.overrun, &e.overrun_ms, t))
		d2xx_note("%s: the serial port reported %d overrun%s: bytes from the board were lost "
		          "(is its CTS wired to RTS?)",
		          port_name[slot], e.overrun, e.overrun == 1 ? "" : "s");
	if (new_burst(frame + parity, &e.garbled, &e.garbled_ms, t))
		d2xx_note("%s: the serial port reported %d framing and %d parity errors: bytes from the "
		          "board arrive garbled (does its line run at 1500000 baud, 8N1?)",
		          port_name[slot], frame, parity);
}

static FT_STATUS tty_read(int slot, void *buf, uint32_t n, uint32_t *got)
{
	for (;;) {
		ssize_t k = read(port_fd[slot], buf, n);
		if (k > 0) {
			report_line_errors(slot);
			*got = (uint32_t)k;
			return FT_OK;
		}
		if (k == 0)  // VMIN is 1: only a hung-up port reads 0
			return port_failed(slot, "read", 0);
		if (errno == EAGAIN || errno == EWOULDBLOCK) {
			*got = 0;
			return FT_OK;
		}
		if (errno != EINTR)
			return port_failed(slot, "read", errno);
	}
}

// The port's own device node, as listed when it was opened.
static bool tty_reads_from(int slot, const char *path)
{
	struct stat st;
	return stat(path, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == port_node[slot];
}

const d2xx_backend d2xx_ports_backend = {
        .name = "tty",
        .init = tty_init,
        .inject_failure = nullptr,
        .list = tty_list,
        .open = tty_open,
        .close = tty_close,
        .reset = tty_reset,
        .set_baud_rate = tty_set_baud_rate,
        .set_flow_control = tty_set_flow_control,
        .set_data_characteristics = tty_set_data_characteristics,
        .set_usb_parameters = tty_set_usb_parameters,
        .purge = tty_purge,
        .queue_status = tty_queue_status,
        .read = tty_read,
        .wait = tty_wait,
        .reads_from = tty_reads_from,
};
