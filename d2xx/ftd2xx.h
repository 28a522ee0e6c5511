// The twelve device-library operations the display program uses, with the
// argument order, types and status values of the FTDI D2XX API.  The
// project implements them itself over backends (ftd2xx.cpp); only usb/
// calls them.
#pragma once

#include <cstdint>

typedef void *FT_HANDLE;
typedef uint32_t FT_STATUS;
typedef uint32_t FT_DEVICE;

// Status values; only FT_OK is success.
constexpr FT_STATUS FT_OK = 0;
constexpr FT_STATUS FT_INVALID_HANDLE = 1;
constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
constexpr FT_STATUS FT_IO_ERROR = 4;
constexpr FT_STATUS FT_INSUFFICIENT_RESOURCES = 5;
constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
constexpr FT_STATUS FT_INVALID_BAUD_RATE = 7;
constexpr FT_STATUS FT_NOT_SUPPORTED = 17;

constexpr FT_DEVICE FT_DEVICE_232R = 5;
constexpr uint32_t FT_FLAGS_OPENED = 1;

constexpr uint16_t FT_FLOW_NONE = 0x0000;
constexpr uint16_t FT_FLOW_RTS_CTS = 0x0100;
constexpr uint16_t FT_FLOW_DTR_DSR = 0x0200;
constexpr uint16_t FT_FLOW_XON_XOFF = 0x0400;
constexpr uint8_t FT_BITS_8 = 8;
constexpr uint8_t FT_BITS_7 = 7;
constexpr uint8_t FT_STOP_BITS_1 = 0;
constexpr uint8_t FT_STOP_BITS_2 = 2;
constexpr uint8_t FT_PARITY_NONE = 0;
constexpr uint8_t FT_PARITY_ODD = 1;
constexpr uint8_t FT_PARITY_EVEN = 2;
constexpr uint8_t FT_PARITY_MARK = 3;
constexpr uint8_t FT_PARITY_SPACE = 4;
constexpr uint32_t FT_PURGE_RX = 1;
constexpr uint32_t FT_PURGE_TX = 2;

constexpr int ft_serial_size = 16;       // serial-number buffer, NUL included
constexpr int ft_description_size = 64;  // description buffer, NUL included

// Number of devices now attached; the list that FT_GetDeviceInfoDetail indexes.
FT_STATUS FT_CreateDeviceInfoList(uint32_t *lpdwNumDevs);
// Device dwIndex of that list; SerialNumber (16) and Description (64) as
// NUL-terminated strings.
FT_STATUS FT_GetDeviceInfoDetail(uint32_t dwIndex, uint32_t *lpdwFlags, uint32_t *lpdwType, uint32_t *lpdwID,
                                 uint32_t *lpdwLocId, void *lpSerialNumber, void *lpDescription,
                                 FT_HANDLE *pftHandle);
FT_STATUS FT_Open(int deviceNumber, FT_HANDLE *pHandle);
FT_STATUS FT_GetDeviceInfo(FT_HANDLE ftHandle, FT_DEVICE *lpftDevice, uint32_t *lpdwID, char *SerialNumber,
                           char *Description, void *Dummy);
FT_STATUS FT_ResetDevice(FT_HANDLE ftHandle);
FT_STATUS FT_SetBaudRate(FT_HANDLE ftHandle, uint32_t BaudRate);
FT_STATUS FT_SetFlowControl(FT_HANDLE ftHandle, uint16_t FlowControl, uint8_t XonChar, uint8_t XoffChar);
FT_STATUS FT_SetDataCharacteristics(FT_HANDLE ftHandle, uint8_t WordLength, uint8_t StopBits, uint8_t Parity);
FT_STATUS FT_SetUSBParameters(FT_HANDLE ftHandle, uint32_t InTransferSize, uint32_t OutTransferSize);
FT_STATUS FT_Purge(FT_HANDLE ftHandle, uint32_t Mask);
// Bytes received and not yet read; answers at once.
FT_STATUS FT_GetQueueStatus(FT_HANDLE ftHandle, uint32_t *dwRxBytes);
// Up to dwBytesToRead of the bytes already received; never waits for more.
FT_STATUS FT_Read(FT_HANDLE ftHandle, void *lpBuffer, uint32_t dwBytesToRead, uint32_t *lpBytesReturned);

// Not one of the device library's operations: the platform layer's way for
// an idle program to sleep instead of asking again and again.  Returns when
// received bytes may be waiting, when fd (if not negative) is readable, or
// after timeout_us microseconds, whichever comes first.
FT_STATUS d2xx_wait(FT_HANDLE ftHandle, int fd, int64_t timeout_us);
// Not a library operation either: true when path names what the open device
// reads its bytes from (a virtual board's file or fifo, a port's device
// node), so that nothing is written into it.
bool d2xx_reads_from(FT_HANDLE ftHandle, const char *path);
// Not a library operation either: how many lines the platform layer has
// said on stderr while a device was open (line errors the driver counted,
// for one), and the last of them in *last ("" before the first).
uint32_t d2xx_said(const char **last);
