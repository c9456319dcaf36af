// Test helpers for the port transport: a control with a sink that records
// NotifyMessage pairs, a scratch registry, and a pseudo-terminal mapped to
// "COM7:" whose master side plays the printer.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "control/Pressel.h"
#include "port/Port.h"
#include "port/PortState.h"
#include "win/base.h"
#include "win/registry.h"
#include "win/serial.h"

#include "event_sink.h"
#include "test_support.h"

namespace port_test {

using test_support::Wide;

// Every test program gets its own registry file, before anything reads it.
inline void UseScratchRegistry() {
    static const bool once = [] {
        char dir[] = "/tmp/pressel-port-XXXXXX";
        if (!mkdtemp(dir)) return false;
        setenv("PRESSEL_REGISTRY", (std::string(dir) + "/registry.reg").c_str(), 1);
        return true;
    }();
    ASSERT_TRUE(once);
}

inline void SetRegistryString(HKEY root, const char16_t* keyName, const char16_t* valueName, const std::u16string& data,
                              DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, keyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, valueName, 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

inline void DeleteRegistryValue(HKEY root, const char16_t* keyName, const char16_t* valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, keyName, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, valueName);
    RegCloseKey(key);
}

// Records the NotifyMessage pairs it receives; onNotify runs inside the event.
class NotifySink final : public test_support::EventSinkBase {
public:
    std::vector<std::pair<LONG, LONG>> notes;
    std::function<void(std::pair<LONG, LONG>)> onNotify;

protected:
    void OnEvent(DISPID id, DISPPARAMS* dp) override {
        if (id != 2 || !dp || dp->cArgs != 2) return;
        notes.emplace_back(dp->rgvarg[1].lVal, dp->rgvarg[0].lVal);
        if (onNotify) onNotify(notes.back());
    }
};

// A control (held by the test) with a NotifySink connected.
class Control {
public:
    Control() {
        IPressel* p = nullptr;
        EXPECT_EQ(CPressel::CreateInstance(IID_IPressel, reinterpret_cast<void**>(&p)), S_OK);
        pressel = static_cast<CPressel*>(p);
        EXPECT_EQ(test_support::ConnectSink(p, &sink, &cp, &cookie), S_OK);
        pressel->m_bPrinting = 1;
    }
    ~Control() {
        cp->Unadvise(cookie);
        cp->Release();
        pressel->m_bPrinting = 0;
        pressel->Release();
    }
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    CPressel* operator->() const { return pressel; }
    HANDLE Handle() const { return port::ToHandle(pressel->m_hPort); }

    CPressel* pressel = nullptr;
    IConnectionPoint* cp = nullptr;
    DWORD cookie = 0;
    NotifySink sink;
};

// A pseudo-terminal whose slave is "COM7:"; the test reads and writes the master.
class PtyPrinter {
public:
    PtyPrinter() {
        char name[128] = {};
        EXPECT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        termios raw{};
        tcgetattr(master, &raw);
        cfmakeraw(&raw);
        tcsetattr(master, TCSANOW, &raw);
        SetRegistryString(HKEY_LOCAL_MACHINE, u"System\\DosDevices", u"COM7:", Wide(name));
    }
    ~PtyPrinter() {
        if (master >= 0) close(master);
        close(slave);
    }
    PtyPrinter(const PtyPrinter&) = delete;
    PtyPrinter& operator=(const PtyPrinter&) = delete;

    void Send(const std::string& bytes) const {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Whatever the host sent within ms.
    std::string Receive(int ms = 150) const {
        std::string got;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            pollfd pfd{master, POLLIN, 0};
            if (poll(&pfd, 1, 10) <= 0) continue;
            char buf[256];
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }

    int master = -1;
    int slave = -1;
};

// Waits until the host side has `bytes` bytes waiting.
inline void WaitForInput(HANDLE h, DWORD bytes) {
    for (int i = 0; i < 400; ++i) {
        COMSTAT stat{};
        ClearCommError(h, nullptr, &stat);
        if (stat.cbInQue >= bytes) return;
        usleep(5000);
    }
    FAIL() << "the printer's bytes never arrived";
}

}  // namespace port_test
