// Device I/O control codes, for DeviceIoControl and the stream devices that
// answer it: the serial ones carry COMMTIMEOUTS.
#pragma once

#include "win/types.h"

#define CTL_CODE(DeviceType, Function, Method, Access) \
    (((DWORD)(DeviceType) << 16) | ((DWORD)(Access) << 14) | ((DWORD)(Function) << 2) | (DWORD)(Method))
#define METHOD_BUFFERED 0
#define FILE_ANY_ACCESS 0
#define FILE_DEVICE_SERIAL_PORT 0x0000001B

// What SetCommTimeouts and GetCommTimeouts send; the buffer is a COMMTIMEOUTS.
#define IOCTL_SERIAL_SET_TIMEOUTS CTL_CODE(FILE_DEVICE_SERIAL_PORT, 7, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_SERIAL_GET_TIMEOUTS CTL_CODE(FILE_DEVICE_SERIAL_PORT, 8, METHOD_BUFFERED, FILE_ANY_ACCESS)
static_assert(IOCTL_SERIAL_SET_TIMEOUTS == 0x1B001C && IOCTL_SERIAL_GET_TIMEOUTS == 0x1B0020,
              "serial I/O control codes keep their Windows values");
