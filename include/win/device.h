// Stream-device manager of the platform layer: drivers loaded at run time
// whose entry points are named after a three-letter prefix (LPT_Init,
// LPT_Open, ...), opened by their device name ("LPT9:") with CreateFileW.
#pragma once

#include "win/ioctl.h"
#include "win/types.h"

// Loads the driver library `lpszLib`, calls <prefix>_Init(dwInfo) and makes
// "<prefix><index>:" openable. Returns 0 on failure (GetLastError:
// ERROR_INVALID_PARAMETER, ERROR_DEVICE_IN_USE when the name is taken,
// ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND, or the driver's own error when
// its Init fails). On the device dwInfo is a DWORD; here it is pointer-sized,
// so that it can carry an address.
WINBASEAPI HANDLE WINAPI RegisterDevice(LPCWSTR lpszType, DWORD dwIndex, LPCWSTR lpszLib, DWORD_PTR dwInfo);

// Closes what is still open on the device, calls <prefix>_Deinit and unloads
// the driver. Handles still open on it then fail with
// ERROR_DEVICE_NOT_CONNECTED (CloseHandle still releases them).
WINBASEAPI BOOL WINAPI DeregisterDevice(HANDLE hDevice);

// The stream-driver interface, for driver writers. Entry points are
// exported with C linkage as <prefix>_Init, <prefix>_Deinit, ...; Init,
// Deinit, Open, Close, Read, Write and IOControl are required.
typedef DWORD_PTR (*PFN_STREAM_INIT)(DWORD_PTR dwContext);  // 0 = failure
typedef BOOL (*PFN_STREAM_DEINIT)(DWORD_PTR hDeviceContext);
typedef DWORD_PTR (*PFN_STREAM_OPEN)(DWORD_PTR hDeviceContext, DWORD AccessCode, DWORD ShareMode);  // 0 = failure
typedef BOOL (*PFN_STREAM_CLOSE)(DWORD_PTR hOpenContext);
// Read and Write return the byte count, or (DWORD)-1 on failure.
typedef DWORD (*PFN_STREAM_READ)(DWORD_PTR hOpenContext, void* pBuffer, DWORD Count);
typedef DWORD (*PFN_STREAM_WRITE)(DWORD_PTR hOpenContext, const void* pBuffer, DWORD Count);
typedef BOOL (*PFN_STREAM_IOCONTROL)(DWORD_PTR hOpenContext, DWORD dwCode, BYTE* pBufIn, DWORD dwLenIn,
                                     BYTE* pBufOut, DWORD dwLenOut, DWORD* pdwActualOut);
