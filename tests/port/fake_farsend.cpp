// A port library that records its calls, for tests of how the control drives
// the library (loaded in place of the real one: the test loads it first, and
// the loader then finds it already loaded by its name).
#include "plugins/farsend/farsend.h"

extern "C" {
__attribute__((visibility("default"))) int g_fakeOpens = 0;
__attribute__((visibility("default"))) int g_fakeCloses = 0;
__attribute__((visibility("default"))) int g_fakeSends = 0;
__attribute__((visibility("default"))) int g_fakeFailOpens = 0;
}

FARSEND_API LONG PrinterOpen(const WCHAR* port) {
    ++g_fakeOpens;
    return (g_fakeFailOpens || !port) ? -1 : 40 + g_fakeOpens;
}

FARSEND_API BOOL PrinterSend(LONG handle, const BYTE*, DWORD) {
    ++g_fakeSends;
    return handle > 40;
}

FARSEND_API void PrinterClose(LONG) { ++g_fakeCloses; }
