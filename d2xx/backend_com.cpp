// Real FT232R devices on Windows: the COM ports that FTDI's virtual COM
// port driver, which Windows installs by itself for the chip, makes of
// them.
//
// PLATFORM       Windows; chosen when VELMORA_BOARD is unset.
// LIMITATIONS    only ports of FTDI's bus driver are listed, every one as
//                FT_DEVICE_232R, so the program picks its board by its
//                description.  The driver's latency timer is a setting of
//                the port that a program cannot change through the COM
//                interface: it is read, and a timer above 1 ms is said
//                once on stderr with where to change it.
// CONFIGURATION  none.
//
// The list is SetupAPI's: the present devices of the Ports class whose
// instance ID is the FTDI bus driver's,
//   FTDIBUS\VID_0403+PID_6001+<serial>A\0000
// (A: the chip's one channel), and of each:
//   ID           (vendor << 16) | product, from the instance ID
//   serial       the instance ID's third part, its channel letter taken off
//   description  the product string the device reported on its bus
//                (DEVPKEY_Device_BusReportedDeviceDesc): "FT232R USB UART"
//   port         the device key's PortName ("COM7"), opened as \\.\COM7
//   latency      the device key's LatencyTimer (ms)
//   LocId        hub << 4 | port, from the location "Port_#0002.Hub_#0001"
// The port is opened with CreateFile for overlapped I/O, set through its
// DCB (1500000 baud, 8N1, RTS/CTS: fOutxCtsFlow with RTS_CONTROL_HANDSHAKE)
// and read at once with what is there (ReadIntervalTimeout MAXDWORD); a
// sleep waits on WaitCommEvent(EV_RXCHAR) and the window's messages
// together.  The queue and the line errors (overrun, framing, parity) come
// from ClearCommError; a purge is PurgeComm, which the driver passes on to
// the chip.
#include <initguid.h>

#include <windows.h>

#include <devguid.h>
#include <devpkey.h>
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/os.h"
#include "d2xx/backend.h"

static HANDLE port[max_devices];  // INVALID_HANDLE_VALUE while closed
static char port_name[max_devices][max_port_name];
static OVERLAPPED watch[max_devices];  // WaitCommEvent's, its event made at open
static DWORD watch_mask[max_devices];
static bool sw_watching[max_devices];  // a WaitCommEvent is pending
static bool sw_gone[max_devices];      // its failure already reported
static DWORD latency_ms[max_devices];  // the driver's timer, as listed

// The latest list's ports and their latency timers, for the open.
static char listed_port[max_devices][max_port_name];
static DWORD listed_latency[max_devices];
static uint32_t listed_count;

// Line errors ClearCommError reported since the open: how many times each
// kind was seen and when last, so that a burst is said once.
constexpr DWORD burst_gap_ms = 1000;
struct line_errors {
	int overrun, framing, parity;
	DWORD overrun_ms, garbled_ms;
	bool sw_overrun_seen, sw_garbled_seen;
};
static line_errors errors[max_devices];

static void com_close(int slot)
{
	if (port[slot] != INVALID_HANDLE_VALUE && port[slot] != nullptr) {
		CancelIo(port[slot]);
		CloseHandle(port[slot]);
	}
	if (watch[slot].hEvent)
		CloseHandle(watch[slot].hEvent);
	port[slot] = INVALID_HANDLE_VALUE;
	watch[slot] = {};
	sw_watching[slot] = false;
}

static void com_init()
{
	for (uint32_t i = 0; i < max_devices; i++)
		com_close((int)i);
}

// "FTDIBUS\VID_0403+PID_6001+A5XK3RJTA\0000" into its vendor, product and
// serial; false for an instance of another bus driver.
static bool ftdi_instance(const char *id, uint32_t *vid, uint32_t *pid, char *serial, size_t size)
{
	unsigned v, p;
	int at = 0;
	if (_strnicmp(id, "FTDIBUS\\", 8) != 0 || sscanf(id + 8, "VID_%4x+PID_%4x+%n", &v, &p, &at) != 2 ||
	    at == 0)
		return false;
	const char *s = id + 8 + at, *end = strchr(s, '\\');
	size_t len = end ? (size_t)(end - s) : strlen(s);
	if (len > 1 && s[len - 1] >= 'A' && s[len - 1] <= 'D')
		len--;  // the channel
	d2xx_copy(serial, size, s, len);
	*vid = v;
	*pid = p;
	return true;
}

static FT_STATUS com_list(d2xx_device *list, uint32_t max, uint32_t *count)
{
	*count = 0;
	HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
	if (set == INVALID_HANDLE_VALUE) {
		d2xx_note("cannot list the serial ports: SetupDiGetClassDevs: %s",
		          os_error_text(GetLastError()));
		return FT_IO_ERROR;
	}
	SP_DEVINFO_DATA info = {};
	info.cbSize = sizeof info;
	uint32_t n = 0;
	bool sw_more = false;
	for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); i++) {
		char id[512];
		uint32_t vid = 0, pid = 0;
		d2xx_device d = {};
		if (!SetupDiGetDeviceInstanceIdA(set, &info, id, sizeof id, nullptr) ||
		    !ftdi_instance(id, &vid, &pid, d.serial, sizeof d.serial))
			continue;
		HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
		if (key == INVALID_HANDLE_VALUE)
			continue;
		char name[max_port_name] = "";
		DWORD size = sizeof name - 1, latency = 16, latency_size = sizeof latency;
		bool named = RegQueryValueExA(key, "PortName", nullptr, nullptr, (BYTE *)name, &size) ==
		             ERROR_SUCCESS;
		if (RegQueryValueExA(key, "LatencyTimer", nullptr, nullptr, (BYTE *)&latency,
		                     &latency_size) != ERROR_SUCCESS)
			latency = 16;
		RegCloseKey(key);
		if (!named || name[0] == '\0')
			continue;
		if (n == max) {
			sw_more = true;
			break;
		}
		d2xx_copy(d.port, sizeof d.port, name, strnlen(name, sizeof name));
		d.type = FT_DEVICE_232R;
		d.id = vid << 16 | pid;
		WCHAR desc[ft_description_size] = L"";
		DEVPROPTYPE type;
		if (SetupDiGetDevicePropertyW(set, &info, &DEVPKEY_Device_BusReportedDeviceDesc, &type,
		                              (BYTE *)desc, sizeof desc - sizeof(WCHAR), nullptr, 0) &&
		    type == DEVPROP_TYPE_STRING)
			WideCharToMultiByte(CP_UTF8, 0, desc, -1, d.description, sizeof d.description,
			                    nullptr, nullptr);
		char where[256] = "";
		unsigned hub = 0, hub_port = 0;
		if (SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_LOCATION_INFORMATION, nullptr,
		                                      (BYTE *)where, sizeof where - 1, nullptr) &&
		    sscanf(where, "Port_#%u.Hub_#%u", &hub_port, &hub) == 2)
			d.loc_id = hub << 4 | (hub_port & 0xf);
		d2xx_copy(listed_port[n], sizeof listed_port[n], d.port, strlen(d.port));
		listed_latency[n] = latency;
		list[n++] = d;
	}
	SetupDiDestroyDeviceInfoList(set);
	listed_count = n;
	if (sw_more)
		d2xx_note("more than %u serial ports; only the first %u are listed", max, max);
	*count = n;
	return FT_OK;
}

static FT_STATUS com_open(int slot, const d2xx_device *dev)
{
	char path[max_port_name + 8];
	snprintf(path, sizeof path, "\\\\.\\%s", dev->port);
	HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
	                       FILE_FLAG_OVERLAPPED, nullptr);
	if (h == INVALID_HANDLE_VALUE) {
		DWORD e = GetLastError();
		d2xx_note("cannot open %s: %s%s", dev->port, os_error_text(e),
		          e == ERROR_ACCESS_DENIED ? " (another program has it)" : "");
		return FT_DEVICE_NOT_OPENED;
	}
	// Reads answer at once with what is there; nothing is ever written.
	COMMTIMEOUTS t = {MAXDWORD, 0, 0, 0, 0};
	DCB dcb = {};
	dcb.DCBlength = sizeof dcb;
	if (!SetCommTimeouts(h, &t) || !SetCommMask(h, EV_RXCHAR) || !GetCommState(h, &dcb)) {
		d2xx_note("%s is not a serial port: %s", dev->port, os_error_text(GetLastError()));
		CloseHandle(h);
		return FT_DEVICE_NOT_OPENED;
	}
	port[slot] = h;
	watch[slot] = {};
	watch[slot].hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
	sw_watching[slot] = false;
	sw_gone[slot] = false;
	errors[slot] = {};
	latency_ms[slot] = 16;
	for (uint32_t i = 0; i < listed_count; i++)
		if (strcmp(listed_port[i], dev->port) == 0)
			latency_ms[slot] = listed_latency[i];
	d2xx_copy(port_name[slot], sizeof port_name[slot], dev->port, strlen(dev->port));
	return FT_OK;
}

// Any error of an open port is a failed device; say once why.
static FT_STATUS port_failed(int slot, const char *what, DWORD e)
{
	if (!sw_gone[slot])
		d2xx_note("%s: %s: %s%s", port_name[slot], what, os_error_text(e),
		          e == ERROR_BAD_COMMAND || e == ERROR_OPERATION_ABORTED ||
		                          e == ERROR_ACCESS_DENIED || e == ERROR_GEN_FAILURE ||
		                          e == ERROR_DEVICE_NOT_CONNECTED
		                  ? " (device unplugged?)"
		                  : "");
	sw_gone[slot] = true;
	return FT_IO_ERROR;
}

// Sets what change() makes of the port's DCB, then reads it back: the
// driver may keep only part of it.
static FT_STATUS apply(int slot, void (*change)(DCB *, const void *), const void *arg,
                       bool (*same)(const DCB *, const DCB *), FT_STATUS refused)
{
	DCB want = {}, got = {};
	want.DCBlength = got.DCBlength = sizeof(DCB);
	if (!GetCommState(port[slot], &want))
		return port_failed(slot, "GetCommState", GetLastError());
	change(&want, arg);
	want.fBinary = TRUE;
	if (!SetCommState(port[slot], &want)) {
		DWORD e = GetLastError();
		return e == ERROR_INVALID_PARAMETER ? refused : port_failed(slot, "SetCommState", e);
	}
	if (!GetCommState(port[slot], &got))
		return port_failed(slot, "GetCommState", GetLastError());
	return same(&want, &got) ? FT_OK : refused;
}

static void change_speed(DCB *d, const void *arg)
{
	d->BaudRate = *(const uint32_t *)arg;
}

static bool same_speed(const DCB *want, const DCB *got)
{
	return want->BaudRate == got->BaudRate;
}

static FT_STATUS com_set_baud_rate(int slot, uint32_t baud)
{
	return apply(slot, change_speed, &baud, same_speed, FT_INVALID_BAUD_RATE);
}

struct flow_setting {
	uint16_t flow;
	uint8_t xon, xoff;
};

static void change_flow(DCB *d, const void *arg)
{
	const flow_setting *f = (const flow_setting *)arg;
	bool rts = f->flow == FT_FLOW_RTS_CTS, dtr = f->flow == FT_FLOW_DTR_DSR,
	     x = f->flow == FT_FLOW_XON_XOFF;
	d->fOutxCtsFlow = rts;
	d->fRtsControl = rts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
	d->fOutxDsrFlow = dtr;
	d->fDtrControl = dtr ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
	d->fOutX = d->fInX = x;
	if (x) {
		d->XonChar = (char)f->xon;
		d->XoffChar = (char)f->xoff;
	}
}

// RTS/CTS holds when CTS gates the line and RTS follows the receive
// queue.  A port that reports RTS merely on with CTS flow (Wine's, over a
// Linux CRTSCTS, which drives RTS from the queue too) is taken at its word.
static bool same_flow(const DCB *want, const DCB *got)
{
	bool rts = want->fRtsControl == got->fRtsControl ||
	           (want->fRtsControl == RTS_CONTROL_HANDSHAKE && got->fOutxCtsFlow &&
	            got->fRtsControl == RTS_CONTROL_ENABLE);
	return want->fOutxCtsFlow == got->fOutxCtsFlow && rts && want->fOutxDsrFlow == got->fOutxDsrFlow &&
	       want->fOutX == got->fOutX && want->fInX == got->fInX;
}

static FT_STATUS com_set_flow_control(int slot, uint16_t flow, uint8_t xon, uint8_t xoff)
{
	flow_setting f = {flow, xon, xoff};
	return apply(slot, change_flow, &f, same_flow, FT_IO_ERROR);
}

struct frame_setting {
	uint8_t bits, stop, parity;
};

static void change_frame(DCB *d, const void *arg)
{
	// The chip's parity codes are Windows' own: none, odd, even, mark, space.
	const frame_setting *f = (const frame_setting *)arg;
	d->ByteSize = f->bits;
	d->StopBits = f->stop == FT_STOP_BITS_2 ? TWOSTOPBITS : ONESTOPBIT;
	d->Parity = f->parity;
	d->fParity = f->parity != FT_PARITY_NONE;
}

static bool same_frame(const DCB *want, const DCB *got)
{
	return want->ByteSize == got->ByteSize && want->StopBits == got->StopBits &&
	       want->Parity == got->Parity;
}

static FT_STATUS com_set_data_characteristics(int slot, uint8_t bits, uint8_t stop, uint8_t parity)
{
	frame_setting f = {bits, stop, parity};
	return apply(slot, change_frame, &f, same_frame, FT_IO_ERROR);
}

// The transfer size is the driver's own; the latency timer is said.
static FT_STATUS com_set_usb_parameters(int slot, uint32_t, uint32_t)
{
	if (latency_ms[slot] > 1)
		d2xx_note("%s: the FTDI driver's latency timer is %lu ms: frames may reach the display up to "
		          "%lu ms "
		          "late (set it to 1 in Device Manager: the port's Properties, Port Settings, "
		          "Advanced, "
		          "Latency Timer)",
		          port_name[slot], (unsigned long)latency_ms[slot], (unsigned long)latency_ms[slot]);
	return FT_OK;
}

static FT_STATUS purge(int slot, DWORD what)
{
	if (!PurgeComm(port[slot], what))
		return port_failed(slot, "PurgeComm", GetLastError());
	return FT_OK;
}

static FT_STATUS com_reset(int slot)
{
	return purge(slot, PURGE_RXCLEAR | PURGE_TXCLEAR);
}

static FT_STATUS com_purge(int slot, uint32_t mask)
{
	FT_STATUS s = purge(slot, (mask & FT_PURGE_RX ? PURGE_RXCLEAR : 0) |
	                                  (mask & FT_PURGE_TX ? PURGE_TXCLEAR : 0));
	DWORD e;
	if (s == FT_OK)
		ClearCommError(port[slot], &e,
		               nullptr);  // what came before the purge is no fault of the board's
	return s;
}

// Whether a kind of error seen now starts a new burst.
static bool new_burst(bool *seen_before, DWORD *last_ms, DWORD now)
{
	bool sw_new = !*seen_before || now - *last_ms >= burst_gap_ms;
	*seen_before = true;
	*last_ms = now;
	return sw_new;
}

// The queue, and the line errors since the last look: said once a burst,
// with the running count, as the Linux ports say them.
static FT_STATUS queue(int slot, DWORD *count)
{
	DWORD e = 0;
	COMSTAT st = {};
	if (!ClearCommError(port[slot], &e, &st))
		return port_failed(slot, "ClearCommError", GetLastError());
	line_errors &l = errors[slot];
	DWORD now = GetTickCount();
	if (e & (CE_OVERRUN | CE_RXOVER)) {
		l.overrun++;
		if (new_burst(&l.sw_overrun_seen, &l.overrun_ms, now))
			d2xx_note("%s: the serial port reported %d overrun%s: bytes from the board were lost "
			          "(is its CTS wired to RTS?)",
			          port_name[slot], l.overrun, l.overrun == 1 ? "" : "s");
	}
	if (e & (CE_FRAME | CE_RXPARITY)) {
		l.framing += (e & CE_FRAME) != 0;
		l.parity += (e & CE_RXPARITY) != 0;
		if (new_burst(&l.sw_garbled_seen, &l.garbled_ms, now))
			d2xx_note("%s: the serial port reported %d framing and %d parity errors: bytes from "
			          "the "
			          "board arrive garbled (does its line run at 1500000 baud, 8N1?)",
			          port_name[slot], l.framing, l.parity);
	}
	*count = st.cbInQue;
	return FT_OK;
}

static FT_STATUS com_queue_status(int slot, uint32_t *count)
{
	DWORD n = 0;
	FT_STATUS s = queue(slot, &n);
	*count = n;
	return s;
}

static FT_STATUS com_read(int slot, void *buf, uint32_t n, uint32_t *got)
{
	OVERLAPPED o = {};
	o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
	DWORD k = 0;
	BOOL ok = ReadFile(port[slot], buf, n, &k, &o);
	if (!ok && GetLastError() == ERROR_IO_PENDING)
		ok = GetOverlappedResult(port[slot], &o, &k, TRUE);  // at once: the timeouts say so
	DWORD e = GetLastError();
	CloseHandle(o.hEvent);
	if (!ok)
		return port_failed(slot, "ReadFile", e);
	*got = k;
	return FT_OK;
}

// Until a byte comes, the window has a message, or the time is up.
static FT_STATUS com_wait(int slot, int, int64_t timeout_us)
{
	DWORD waiting = 0;
	if (queue(slot, &waiting) != FT_OK || waiting > 0)
		return FT_OK;
	if (!sw_watching[slot]) {
		ResetEvent(watch[slot].hEvent);
		if (WaitCommEvent(port[slot], &watch_mask[slot], &watch[slot]))
			return FT_OK;
		if (GetLastError() != ERROR_IO_PENDING)
			return FT_OK;  // the next query says what became of the port
		sw_watching[slot] = true;
	}
	HANDLE h = watch[slot].hEvent;
	if (d2xx_wait_windows(&h, 1, timeout_us) == 0) {
		DWORD k;
		GetOverlappedResult(port[slot], &watch[slot], &k, FALSE);
		sw_watching[slot] = false;
	}
	return FT_OK;
}

// The port's bytes come from no file.
static bool com_reads_from(int, const char *)
{
	return false;
}

const d2xx_backend d2xx_ports_backend = {
        .name = "com",
        .init = com_init,
        .inject_failure = nullptr,
        .list = com_list,
        .open = com_open,
        .close = com_close,
        .reset = com_reset,
        .set_baud_rate = com_set_baud_rate,
        .set_flow_control = com_set_flow_control,
        .set_data_characteristics = com_set_data_characteristics,
        .set_usb_parameters = com_set_usb_parameters,
        .purge = com_purge,
        .queue_status = com_queue_status,
        .read = com_read,
        .wait = com_wait,
        .reads_from = com_reads_from,
};
