// The operating-system wrappers: each passes its arguments to the platform
// call of the same name and returns its result, last error included.
#include "Ondrel.h"
#include "win/device.h"

ONDREL_API HANDLE CreateFile_Interop(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                     DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    return CreateFileW(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes, dwCreationDisposition,
                       dwFlagsAndAttributes, hTemplateFile);
}

ONDREL_API BOOL ReadFile_Interop(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                 LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    return ReadFile(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
}

ONDREL_API BOOL WriteFile_Interop(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                  LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    return WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
}

ONDREL_API BOOL CloseHandle_Interop(HANDLE hObject) { return CloseHandle(hObject); }

ONDREL_API BOOL DeviceIoControl_Interop(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                        DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                                        LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) {
    return DeviceIoControl(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize,
                           lpBytesReturned, lpOverlapped);
}

ONDREL_API HANDLE RegisterDevice_Interop(LPCWSTR lpszType, DWORD dwIndex, LPCWSTR lpszLib, DWORD_PTR dwInfo) {
    return RegisterDevice(lpszType, dwIndex, lpszLib, dwInfo);
}

ONDREL_API BOOL DeregisterDevice_Interop(HANDLE hDevice) { return DeregisterDevice(hDevice); }

ONDREL_API BOOL GetCommState_Interop(HANDLE hFile, LPDCB lpDCB) { return GetCommState(hFile, lpDCB); }

ONDREL_API BOOL SetCommState_Interop(HANDLE hFile, LPDCB lpDCB) { return SetCommState(hFile, lpDCB); }

ONDREL_API BOOL GetCommTimeouts_Interop(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
    return GetCommTimeouts(hFile, lpCommTimeouts);
}

ONDREL_API BOOL SetCommTimeouts_Interop(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
    return SetCommTimeouts(hFile, lpCommTimeouts);
}

ONDREL_API BOOL EscapeCommFunction_Interop(HANDLE hFile, DWORD dwFunc) { return EscapeCommFunction(hFile, dwFunc); }
