// The export library: flat C functions for managed applications, which call
// them by name (P/Invoke). Nothing else leaves libondrel.so.
//
// Exports, with the ordinals they had on the device (alphabetical):
//   EXPORTS
//     BMPComputeSize            @1
//     BMPDelete                 @2
//     BMPGetBits                @3
//     CloseHandle_Interop       @4
//     CreateFile_Interop        @5
//     DeregisterDevice_Interop  @6
//     DeviceIoControl_Interop   @7
//     EscapeCommFunction_Interop @8
//     GetCommState_Interop      @9
//     GetCommTimeouts_Interop   @10
//     GetRegString              @11
//     IRClose                   @12
//     IROpen                    @13
//     IRWrite                   @14
//     KtsbCancel                @15
//     KtsbDevIOCBind            @16
//     OndrelGetId               @17
//     ReadFile_Interop          @18
//     RegisterDevice_Interop    @19
//     SetCommState_Interop      @20
//     SetCommTimeouts_Interop   @21
//     WriteFile_Interop         @22
//
// Widths for managed callers: every integer is 32 bits (C# int/uint);
// handles, pointers and the RegisterDevice context are pointer-sized
// (C# IntPtr / arrays / ref), as the platform's own calls take them. On the
// device these were all 32 bits; a caller that kept a handle in an int must
// use IntPtr here. Strings are UTF-16 (CharSet.Unicode) except the 8-bit
// identification string.
#pragma once

#include "win/base.h"
#include "win/serial.h"

#define ONDREL_API PRESSEL_EXTERN_C __attribute__((visibility("default")))

// ---- Operating-system wrappers: arguments and results pass unchanged.
ONDREL_API HANDLE CreateFile_Interop(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                     DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
ONDREL_API BOOL ReadFile_Interop(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                 LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
ONDREL_API BOOL WriteFile_Interop(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                  LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
ONDREL_API BOOL CloseHandle_Interop(HANDLE hObject);
ONDREL_API BOOL DeviceIoControl_Interop(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                        DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                                        LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped);
ONDREL_API HANDLE RegisterDevice_Interop(LPCWSTR lpszType, DWORD dwIndex, LPCWSTR lpszLib, DWORD_PTR dwInfo);
ONDREL_API BOOL DeregisterDevice_Interop(HANDLE hDevice);
ONDREL_API BOOL GetCommState_Interop(HANDLE hFile, LPDCB lpDCB);
ONDREL_API BOOL SetCommState_Interop(HANDLE hFile, LPDCB lpDCB);
ONDREL_API BOOL GetCommTimeouts_Interop(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts);
ONDREL_API BOOL SetCommTimeouts_Interop(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts);
ONDREL_API BOOL EscapeCommFunction_Interop(HANDLE hFile, DWORD dwFunc);

// ---- Registry: the value "FLPort" under HKEY_LOCAL_MACHINE\<keyPath>.
// *pSize: the buffer's capacity in bytes on entry, the result on return.
// Result: bytes stored (REG_SZ, terminator included); -1 the value is absent
// or larger than the buffer (or pSize is null); -2 not REG_SZ (its bytes may
// have been stored); -3 the key does not open.
ONDREL_API int GetRegString(LPCWSTR keyPath, LPVOID lpBuffer, int* pSize);

// ---- Identification: an 8-bit string. Null buffer: its length. A size
// below the length: -1, nothing written. Otherwise strncpy into the buffer
// (terminated only when size exceeds the length) and the length. -2 (with
// ERROR_NOT_ENOUGH_MEMORY) when its work buffers cannot be had.
ONDREL_API int OndrelGetId(char* buffer, int size);

// ---- IrDA printing: one connection per process, IrLPT mode, service
// "LSAP-SEL002" on the first device discovered.
// IROpen: 1 connected; 0 a socket call failed; -1 no device after ten
// discoveries 100 ms apart. IRWrite: bytes accepted (maybe fewer than
// asked), -1 socket error, 0 nothing sent. IRClose: always 1.
// The Winsock error is in the thread's last error (GetLastError).
ONDREL_API int IROpen(void);
ONDREL_API int IRWrite(const BYTE* pBytes, int count);
ONDREL_API int IRClose(void);

// ---- KTSB link controls on the opened "LPT9:" handle: the attempt (1..9)
// that succeeded, or 0 after nine attempts 500 ms apart.
ONDREL_API int KtsbCancel(HANDLE hDevice);
ONDREL_API int KtsbDevIOCBind(HANDLE hDevice);

// ---- Bitmap conversion. The library holds the last array made until it
// is fetched, deleted, replaced or the library is unloaded.
// BMPComputeSize: the array's size, or -1 (nothing held). BMPGetBits: copies
// the held array into the buffer (at least that size) and releases it;
// -1 when nothing is held or the buffer is null (the array stays then).
// BMPDelete: the held size before the call, -1 when nothing was held.
ONDREL_API int BMPComputeSize(int heightDots, int widthDots, int lineDots, LPCWSTR fileName, int layout,
                              int rotation, int offsetDots);
ONDREL_API int BMPGetBits(BYTE* pBuffer);
ONDREL_API int BMPDelete(void);

#define IOCTL_KTSB_CANCEL 0x1B1000u
#define IOCTL_KTSB_BIND 0x1B1004u
