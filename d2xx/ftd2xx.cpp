// The twelve device operations, written once over a backend that the
// environment chooses on the first call: the virtual board when
// VELMORA_BOARD is set, else the FT232R ports of Linux's tty layer.
//
// Arguments are checked here, so a backend sees only open slots and values
// the operation accepts.  A handle is the address of an entry of
// open_devices; anything else is FT_INVALID_HANDLE and is never
// dereferenced.  Out-counts are zeroed before a call can fail, so a caller
// that ignores a status reads 0, not a stale count.  One thread makes every
// call, as the program does; nothing here is locked.
#include <cstdlib>
#include <cstring>

#include "d2xx/backend.h"

const char *const d2xx_op_names[op_count] = {
        "FT_CreateDeviceInfoList",
        "FT_GetDeviceInfoDetail",
        "FT_Open",
        "FT_GetDeviceInfo",
        "FT_ResetDevice",
        "FT_SetBaudRate",
        "FT_SetFlowControl",
        "FT_SetDataCharacteristics",
        "FT_SetUSBParameters",
        "FT_Purge",
        "FT_GetQueueStatus",
        "FT_Read",
};

// FT232R line rates, bits per second: 3 MHz over the divisor's range.
constexpr uint32_t min_baud = 183;
constexpr uint32_t max_baud = 3000000;
// USB IN transfer sizes the chip's driver accepts, bytes.
constexpr uint32_t min_transfer = 64;
constexpr uint32_t max_transfer = 65536;

struct ft_open_device {
	bool sw_open;
	d2xx_device device;  // as listed when it was opened
};

static const d2xx_backend *backend;               // null until the first call
static d2xx_device device_list[max_devices];      // the latest enumeration
static uint32_t device_count;                     // entries of device_list, 0..max_devices
static bool sw_listed;                            // device_list holds an enumeration
static ft_open_device open_devices[max_devices];  // indexed by slot

void d2xx_reset()
{
	if (backend)
		for (uint32_t i = 0; i < max_devices; i++)
			if (open_devices[i].sw_open)
				backend->close((int)i);
	memset(open_devices, 0, sizeof open_devices);
	d2xx_counting(false);
	memset(device_list, 0, sizeof device_list);
	device_count = 0;
	sw_listed = false;
	backend = nullptr;
}

// First in every operation: chooses the backend once, then lets it count
// the call.  True when the call is to fail.
static bool enter(d2xx_op op)
{
	if (!backend) {
		backend = getenv("VELMORA_BOARD") ? &d2xx_virtual_backend : &d2xx_ports_backend;
		backend->init();
	}
	return backend->inject_failure && backend->inject_failure(op);
}

static int slot_of(FT_HANDLE handle)
{
	for (uint32_t i = 0; i < max_devices; i++)
		if (handle == &open_devices[i] && open_devices[i].sw_open)
			return (int)i;
	return -1;
}

static int slot_of_port(const char *port)
{
	for (uint32_t i = 0; i < max_devices; i++)
		if (open_devices[i].sw_open && strcmp(open_devices[i].device.port, port) == 0)
			return (int)i;
	return -1;
}

static FT_STATUS enumerate()
{
	uint32_t count = 0;
	FT_STATUS status = backend->list(device_list, max_devices, &count);
	if (status != FT_OK)
		count = 0;
	device_count = count < max_devices ? count : max_devices;
	sw_listed = status == FT_OK;
	// Whatever a backend wrote, every string ends inside its array.
	for (uint32_t i = 0; i < device_count; i++) {
		d2xx_device *d = &device_list[i];
		d->port[sizeof d->port - 1] = '\0';
		d->serial[sizeof d->serial - 1] = '\0';
		d->description[sizeof d->description - 1] = '\0';
	}
	return status;
}

// Writes the string and its NUL, never more than size bytes.
static void put_string(void *to, const char *from, size_t size)
{
	d2xx_copy((char *)to, size, from, strnlen(from, size - 1));
}

// Common start of the operations on an open device.
static FT_STATUS enter_open(d2xx_op op, FT_HANDLE handle, int *slot)
{
	if (enter(op))
		return FT_IO_ERROR;
	*slot = slot_of(handle);
	return *slot < 0 ? FT_INVALID_HANDLE : FT_OK;
}

FT_STATUS FT_CreateDeviceInfoList(uint32_t *lpdwNumDevs)
{
	if (lpdwNumDevs)
		*lpdwNumDevs = 0;
	if (enter(op_CreateDeviceInfoList))
		return FT_IO_ERROR;
	if (!lpdwNumDevs)
		return FT_INVALID_PARAMETER;
	FT_STATUS status = enumerate();
	*lpdwNumDevs = device_count;
	return status;
}

FT_STATUS FT_GetDeviceInfoDetail(uint32_t dwIndex, uint32_t *lpdwFlags, uint32_t *lpdwType, uint32_t *lpdwID,
                                 uint32_t *lpdwLocId, void *lpSerialNumber, void *lpDescription,
                                 FT_HANDLE *pftHandle)
{
	if (enter(op_GetDeviceInfoDetail))
		return FT_IO_ERROR;
	if (!lpdwFlags || !lpdwType || !lpdwID || !lpdwLocId || !lpSerialNumber || !lpDescription ||
	    !pftHandle)
		return FT_INVALID_PARAMETER;
	if (!sw_listed) {
		FT_STATUS status = enumerate();
		if (status != FT_OK)
			return status;
	}
	if (dwIndex >= device_count)
		return FT_DEVICE_NOT_FOUND;
	const d2xx_device *d = &device_list[dwIndex];
	int slot = slot_of_port(d->port);
	*lpdwFlags = slot >= 0 ? FT_FLAGS_OPENED : 0;
	*lpdwType = d->type;
	*lpdwID = d->id;
	*lpdwLocId = d->loc_id;
	put_string(lpSerialNumber, d->serial, ft_serial_size);
	put_string(lpDescription, d->description, ft_description_size);
	*pftHandle = slot >= 0 ? (FT_HANDLE)&open_devices[slot] : nullptr;
	return FT_OK;
}

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE *pHandle)
{
	if (pHandle)
		*pHandle = nullptr;
	if (enter(op_Open))
		return FT_IO_ERROR;
	if (!pHandle)
		return FT_INVALID_PARAMETER;
	if (!sw_listed) {
		FT_STATUS status = enumerate();
		if (status != FT_OK)
			return status;
	}
	if (deviceNumber < 0 || (uint32_t)deviceNumber >= device_count)
		return FT_DEVICE_NOT_FOUND;
	const d2xx_device *d = &device_list[deviceNumber];
	if (slot_of_port(d->port) >= 0) {
		d2xx_note("device %d (%s) is already open", deviceNumber, d->port);
		return FT_DEVICE_NOT_OPENED;
	}
	int slot = 0;
	while (slot < (int)max_devices && open_devices[slot].sw_open)
		slot++;
	if (slot == (int)max_devices)
		return FT_INSUFFICIENT_RESOURCES;
	FT_STATUS status = backend->open(slot, d);
	if (status != FT_OK)
		return status;
	open_devices[slot].sw_open = true;
	open_devices[slot].device = *d;
	d2xx_counting(true);
	*pHandle = &open_devices[slot];
	return FT_OK;
}

FT_STATUS FT_GetDeviceInfo(FT_HANDLE ftHandle, FT_DEVICE *lpftDevice, uint32_t *lpdwID, char *SerialNumber,
                           char *Description, void *)
{
	int slot;
	FT_STATUS status = enter_open(op_GetDeviceInfo, ftHandle, &slot);
	if (status != FT_OK)
		return status;
	if (!lpftDevice || !lpdwID || !SerialNumber || !Description)
		return FT_INVALID_PARAMETER;
	const d2xx_device *d = &open_devices[slot].device;
	*lpftDevice = d->type;
	*lpdwID = d->id;
	put_string(SerialNumber, d->serial, ft_serial_size);
	put_string(Description, d->description, ft_description_size);
	return FT_OK;
}

FT_STATUS FT_ResetDevice(FT_HANDLE ftHandle)
{
	int slot;
	FT_STATUS status = enter_open(op_ResetDevice, ftHandle, &slot);
	return status != FT_OK ? status : backend->reset(slot);
}

FT_STATUS FT_SetBaudRate(FT_HANDLE ftHandle, uint32_t BaudRate)
{
	int slot;
	FT_STATUS status = enter_open(op_SetBaudRate, ftHandle, &slot);
	if (status != FT_OK)
		return status;
	if (BaudRate < min_baud || BaudRate > max_baud)
		return FT_INVALID_BAUD_RATE;
	return backend->set_baud_rate(slot, BaudRate);
}

FT_STATUS FT_SetFlowControl(FT_HANDLE ftHandle, uint16_t FlowControl, uint8_t XonChar, uint8_t XoffChar)
{
	int slot;
	FT_STATUS status = enter_open(op_SetFlowControl, ftHandle, &slot);
	if (status != FT_OK)
		return status;
	if (FlowControl != FT_FLOW_NONE && FlowControl != FT_FLOW_RTS_CTS && FlowControl != FT_FLOW_DTR_DSR &&
	    FlowControl != FT_FLOW_XON_XOFF)
		return FT_INVALID_PARAMETER;
	return backend->set_flow_control(slot, FlowControl, XonChar, XoffChar);
}

FT_STATUS FT_SetDataCharacteristics(FT_HANDLE ftHandle, uint8_t WordLength, uint8_t StopBits, uint8_t Parity)
{
	int slot;
	FT_STATUS status = enter_open(op_SetDataCharacteristics, ftHandle, &slot);
	if (status != FT_OK)
		return status;
	if ((WordLength != FT_BITS_7 && WordLength != FT_BITS_8) ||
	    (StopBits != FT_STOP_BITS_1 && StopBits != FT_STOP_BITS_2) || Parity > FT_PARITY_SPACE)
		return FT_INVALID_PARAMETER;
	return backend->set_data_characteristics(slot, WordLength, StopBits, Parity);
}

FT_STATUS FT_SetUSBParameters(FT_HANDLE ftHandle, uint32_t InTransferSize, uint32_t OutTransferSize)
{
	int slot;
	FT_STATUS status = enter_open(op_SetUSBParameters, ftHandle, &slot);
	if (status != FT_OK)
		return status;
	if (InTransferSize < min_transfer || InTransferSize > max_transfer ||
	    InTransferSize % min_transfer != 0)
		return FT_INVALID_PARAMETER;
	// The OUT size is ignored, as the chip's own driver does.
	return backend->set_usb_parameters(slot, InTransferSize, OutTransferSize);
}

FT_STATUS FT_Purge(FT_HANDLE ftHandle, uint32_t Mask)
{
	int slot;
	FT_STATUS status = enter_open(op_Purge, ftHandle, &slot);
	if (status != FT_OK)
		return status;
	if (Mask & ~(FT_PURGE_RX | FT_PURGE_TX))
		return FT_INVALID_PARAMETER;
	return Mask ? backend->purge(slot, Mask) : FT_OK;
}

FT_STATUS FT_GetQueueStatus(FT_HANDLE ftHandle, uint32_t *dwRxBytes)
{
	if (dwRxBytes)
		*dwRxBytes = 0;
	int slot;
	FT_STATUS status = enter_open(op_GetQueueStatus, ftHandle, &slot);
	if (status != FT_OK)
		return status;
	if (!dwRxBytes)
		return FT_INVALID_PARAMETER;
	uint32_t count = 0;
	status = backend->queue_status(slot, &count);
	if (status == FT_OK)
		*dwRxBytes = count;
	return status;
}

FT_STATUS FT_Read(FT_HANDLE ftHandle, void *lpBuffer, uint32_t dwBytesToRead, uint32_t *lpBytesReturned)
{
	if (lpBytesReturned)
		*lpBytesReturned = 0;
	int slot;
	FT_STATUS status = enter_open(op_Read, ftHandle, &slot);
	if (status != FT_OK)
		return status;
	if (!lpBytesReturned || (!lpBuffer && dwBytesToRead > 0))
		return FT_INVALID_PARAMETER;
	if (dwBytesToRead == 0)
		return FT_OK;
	uint32_t got = 0;
	status = backend->read(slot, lpBuffer, dwBytesToRead, &got);
	if (status == FT_OK)
		*lpBytesReturned = got <= dwBytesToRead ? got : dwBytesToRead;
	return status;
}

FT_STATUS d2xx_wait(FT_HANDLE ftHandle, int fd, int64_t timeout_us)
{
	int slot = backend ? slot_of(ftHandle) : -1;
	if (slot < 0)
		return FT_INVALID_HANDLE;
	return backend->wait(slot, fd, timeout_us < 0 ? 0 : timeout_us);
}

bool d2xx_reads_from(FT_HANDLE ftHandle, const char *path)
{
	int slot = backend ? slot_of(ftHandle) : -1;
	return slot >= 0 && backend->reads_from(slot, path);
}
