// A stream driver for the device-manager tests. It records every call into
// the log of the test program that loaded it (PresselTestDriverLog), so that
// the record outlives the driver's unloading.
//
// Its serial-port name (the registration context) steers it: "FAIL" fails
// Init with ERROR_FILE_NOT_FOUND, "FAIL0" fails Init without an error,
// "NOOPEN" refuses every Open.
#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "win/base.h"
#include "win/device.h"
#include "win/serial.h"

#define DRIVER_API extern "C" __attribute__((visibility("default")))

namespace {

void Log(const std::string& line) {
    using LogFn = void (*)(const char*);
    static auto fn = reinterpret_cast<LogFn>(dlsym(RTLD_DEFAULT, "PresselTestDriverLog"));
    if (fn) fn(line.c_str());
}

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

struct DeviceState {
    std::u16string port;  // copied: the caller's string lives only during Init
};

struct OpenState {
    DeviceState* device;
};

std::string Hex(const BYTE* data, DWORD size) {
    std::string text;
    char byte[4];
    for (DWORD i = 0; i < size; ++i) {
        std::snprintf(byte, sizeof byte, "%02X", data[i]);
        text += byte;
    }
    return text;
}

}  // namespace

DRIVER_API DWORD_PTR LPT_Init(DWORD_PTR context) {
    auto* port = reinterpret_cast<const char16_t*>(context);
    auto* device = new DeviceState{port ? port : u""};
    Log("Init(" + Narrow(device->port) + ")");
    if (device->port == u"FAIL" || device->port == u"FAIL0") {
        if (device->port == u"FAIL") SetLastError(ERROR_FILE_NOT_FOUND);
        delete device;
        return 0;
    }
    return reinterpret_cast<DWORD_PTR>(device);
}

DRIVER_API BOOL LPT_Deinit(DWORD_PTR context) {
    auto* device = reinterpret_cast<DeviceState*>(context);
    Log("Deinit(" + Narrow(device->port) + ")");
    delete device;
    return TRUE;
}

DRIVER_API DWORD_PTR LPT_Open(DWORD_PTR context, DWORD access, DWORD share) {
    auto* device = reinterpret_cast<DeviceState*>(context);
    char line[64];
    std::snprintf(line, sizeof line, "Open(0x%X,%u)", access, share);
    Log(line);
    if (device->port == u"NOOPEN") return 0;
    return reinterpret_cast<DWORD_PTR>(new OpenState{device});
}

DRIVER_API BOOL LPT_Close(DWORD_PTR context) {
    Log("Close");
    delete reinterpret_cast<OpenState*>(context);
    return TRUE;
}

DRIVER_API DWORD LPT_Read(DWORD_PTR, void* buffer, DWORD count) {
    Log("Read(" + std::to_string(count) + ")");
    const char reply[] = "OK";
    DWORD n = count < 2 ? count : 2;
    std::copy(reply, reply + n, static_cast<char*>(buffer));
    return n;
}

DRIVER_API DWORD LPT_Write(DWORD_PTR, const void* buffer, DWORD count) {
    std::string text(static_cast<const char*>(buffer), count);
    Log("Write(" + text + ")");
    return text == "ERR" ? static_cast<DWORD>(-1) : count;
}

DRIVER_API BOOL LPT_IOControl(DWORD_PTR, DWORD code, BYTE* in, DWORD inLen, BYTE* out, DWORD outLen,
                              DWORD* actualOut) {
    char line[128];
    if (code == IOCTL_SERIAL_SET_TIMEOUTS && inLen == sizeof(COMMTIMEOUTS)) {
        auto* t = reinterpret_cast<const COMMTIMEOUTS*>(in);
        std::snprintf(line, sizeof line, "SetTimeouts(%u,%u,%u,%u,%u)", t->ReadIntervalTimeout,
                      t->ReadTotalTimeoutMultiplier, t->ReadTotalTimeoutConstant, t->WriteTotalTimeoutMultiplier,
                      t->WriteTotalTimeoutConstant);
        Log(line);
        return TRUE;
    }
    std::snprintf(line, sizeof line, "IOControl(0x%X,%s,%u)", code, Hex(in, inLen).c_str(), outLen);
    Log(line);
    if (code == 0x1B100C && out && outLen >= 4) {  // a status word, as the link driver gives
        const BYTE status[4] = {0x34, 0x12, 0, 0};
        std::copy(status, status + 4, out);
        if (actualOut) *actualOut = 4;
        return TRUE;
    }
    return code != 0xDEAD;
}

// A driver without an IOControl entry point.
DRIVER_API DWORD_PTR BAD_Init(DWORD_PTR) { return 1; }
DRIVER_API BOOL BAD_Deinit(DWORD_PTR) { return TRUE; }
DRIVER_API DWORD_PTR BAD_Open(DWORD_PTR, DWORD, DWORD) { return 1; }
DRIVER_API BOOL BAD_Close(DWORD_PTR) { return TRUE; }
DRIVER_API DWORD BAD_Read(DWORD_PTR, void*, DWORD) { return 0; }
DRIVER_API DWORD BAD_Write(DWORD_PTR, const void*, DWORD count) { return count; }
