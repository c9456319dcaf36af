// COM activation of the platform layer: apartments, in-process servers found
// through the registry (HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32),
// program identifiers and the task allocator.
#pragma once

#include "win/ole.h"

typedef enum tagCOINIT {
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_MULTITHREADED = 0x0,
    COINIT_DISABLE_OLE1DDE = 0x4,
    COINIT_SPEED_OVER_MEMORY = 0x8,
} COINIT;

typedef enum tagCLSCTX {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
} CLSCTX;
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

#ifndef CO_E_NOTINITIALIZED
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0L)
#endif
#ifndef CO_E_ERRORINDLL
#define CO_E_ERRORINDLL ((HRESULT)0x800401F9L)
#endif
#ifndef CO_E_DLLNOTFOUND
#define CO_E_DLLNOTFOUND ((HRESULT)0x800401F8L)
#endif
#ifndef RPC_E_CHANGED_MODE
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106L)
#endif
#ifndef REGDB_E_READREGDB
#define REGDB_E_READREGDB ((HRESULT)0x80040150L)
#endif

// The signatures an in-process server exports.
typedef HRESULT(STDMETHODCALLTYPE* LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDMETHODCALLTYPE* LPFNCANUNLOADNOW)(void);

// Apartments are counted per thread: the first call answers S_OK, later ones
// S_FALSE, a different threading model RPC_E_CHANGED_MODE. Every successful
// call needs its CoUninitialize; the last one of the process frees the
// servers that agree to be unloaded.
WINOLEAPI CoInitialize(LPVOID pvReserved);
WINOLEAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
WINOLEAPI_(void) CoUninitialize(void);

// Both need CoInitialize on the calling thread (else CO_E_NOTINITIALIZED).
// Only in-process servers exist here: a context without
// CLSCTX_INPROC_SERVER gives REGDB_E_CLASSNOTREG. A server library stays
// loaded until CoFreeUnusedLibraries finds that its DllCanUnloadNow says S_OK.
WINOLEAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid, LPVOID* ppv);
WINOLEAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);
WINOLEAPI_(void) CoFreeUnusedLibraries(void);

// HKEY_CLASSES_ROOT\<ProgID>\CLSID, following <ProgID>\CurVer when the
// identifier names no class itself; a braced GUID is taken as it is.
// CO_E_CLASSSTRING for an unknown identifier.
WINOLEAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
// HKEY_CLASSES_ROOT\CLSID\{clsid}\ProgID, in memory from CoTaskMemAlloc.
WINOLEAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);
// Text of a GUID in braces, in memory from CoTaskMemAlloc.
WINOLEAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);

WINOLEAPI_(LPVOID) CoTaskMemAlloc(SIZE_T cb);
WINOLEAPI_(LPVOID) CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
WINOLEAPI_(void) CoTaskMemFree(LPVOID pv);
