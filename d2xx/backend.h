// Inside the platform layer: what a backend provides to ftd2xx.cpp.  Only
// d2xx/ and its tests include this; usb/ sees ftd2xx.h alone.  What the
// backends and the front end both use is in d2xx/helpers.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/config.h"
#include "d2xx/ftd2xx.h"
#include "d2xx/helpers.h"

constexpr size_t max_port_name = 32;  // a backend's name for a device, NUL included

// One entry of the device list.  Strings are NUL-terminated.
struct d2xx_device {
	char port[max_port_name];  // the backend's key: "ttyUSB2", "vb0"
	FT_DEVICE type;
	uint32_t id;  // (USB vendor << 16) | product
	uint32_t loc_id;
	char serial[ft_serial_size];
	char description[ft_description_size];
	uint64_t node;  // device number of its node as listed (tty: major, minor); 0: none
};

// The twelve operations, in the order the program first calls them.
enum d2xx_op {
	op_CreateDeviceInfoList,
	op_GetDeviceInfoDetail,
	op_Open,
	op_GetDeviceInfo,
	op_ResetDevice,
	op_SetBaudRate,
	op_SetFlowControl,
	op_SetDataCharacteristics,
	op_SetUSBParameters,
	op_Purge,
	op_GetQueueStatus,
	op_Read,
	op_count
};
extern const char *const d2xx_op_names[op_count];  // "FT_CreateDeviceInfoList", ...

// A backend.  ftd2xx.cpp checks every argument before it calls one: a slot
// (0 .. max_devices-1) names a device that open() succeeded on and close()
// has not ended, and every value is one the operation accepts.  Fields are
// called from one thread only.
struct d2xx_backend {
	const char *name;  // "virtual", "tty": for messages and tests
	// Reads the environment and forgets every earlier state.  Called once
	// when the backend is chosen, before any other field.  A bad setting is
	// kept and reported by open(), so the listing still works.
	void (*init)();
	// Called first in every operation, the ones with bad arguments too; true
	// makes that call return FT_IO_ERROR and do nothing.  May be null.
	bool (*inject_failure)(d2xx_op op);
	// FT_CreateDeviceInfoList: writes the devices present now, at most max,
	// in an order that stays the same while they stay plugged, to list and
	// their number to *count.  No devices is FT_OK with 0.
	FT_STATUS (*list)(d2xx_device *list, uint32_t max, uint32_t *count);
	// FT_Open: opens dev, an entry of the latest list, as slot.  On failure
	// says why on stderr and returns FT_DEVICE_NOT_OPENED; the slot stays
	// closed.
	FT_STATUS (*open)(int slot, const d2xx_device *dev);
	// Ends a slot and frees what it holds.  Only d2xx_reset() calls it; the
	// program never closes its device.
	void (*close)(int slot);
	// FT_ResetDevice: empties both directions' queues.
	FT_STATUS (*reset)(int slot);
	// FT_SetBaudRate, baud within the chip's range; FT_INVALID_BAUD_RATE when
	// the port cannot run at it.
	FT_STATUS (*set_baud_rate)(int slot, uint32_t baud);
	// FT_SetFlowControl, flow one of FT_FLOW_*.
	FT_STATUS (*set_flow_control)(int slot, uint16_t flow, uint8_t xon, uint8_t xoff);
	// FT_SetDataCharacteristics: bits 7 or 8, stop FT_STOP_BITS_1 or _2,
	// parity FT_PARITY_NONE .. FT_PARITY_SPACE.
	FT_STATUS (*set_data_characteristics)(int slot, uint8_t bits, uint8_t stop, uint8_t parity);
	// FT_SetUSBParameters, in_size a multiple of 64 in 64..65536.
	FT_STATUS (*set_usb_parameters)(int slot, uint32_t in_size, uint32_t out_size);
	// FT_Purge, mask a non-empty subset of FT_PURGE_RX | FT_PURGE_TX.
	FT_STATUS (*purge)(int slot, uint32_t mask);
	// FT_GetQueueStatus: bytes received and not yet read; never waits.  A
	// port that has gone away is FT_IO_ERROR, not an empty queue.
	FT_STATUS (*queue_status)(int slot, uint32_t *count);
	// FT_Read: copies up to n (> 0) received bytes to buf, in arrival order,
	// and their number to *got; never waits.
	FT_STATUS (*read)(int slot, void *buf, uint32_t n, uint32_t *got);
	// d2xx_wait: sleeps until bytes may be waiting, fd (when >= 0) is
	// readable, or timeout_us (>= 0) microseconds have passed.  Returns
	// early rather than late; a port that has gone away returns at once and
	// the next query reports it.
	FT_STATUS (*wait)(int slot, int fd, int64_t timeout_us);
	// d2xx_reads_from: true when the slot's bytes come from the file at
	// path (the port's own device node, the file a virtual board plays),
	// so that writing to it would feed them back; false when path does not
	// exist.  Never says why on stderr.
	bool (*reads_from)(int slot, const char *path);
};

extern const d2xx_backend d2xx_virtual_backend;  // backend_virtual.cpp
// The platform's real ports: backend_tty.cpp on Linux, backend_com.cpp on
// Windows.
extern const d2xx_backend d2xx_ports_backend;

// Closes every open device and forgets the backend, so that the next
// operation chooses one again from the environment.  For tests, which run
// many boards in one process; the program never calls it.
void d2xx_reset();
