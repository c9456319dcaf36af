// IrDA printing: one connection per process to the printing service of the
// first device in range, in IrLPT mode.
#include <cstring>
#include <mutex>

#include "Ondrel.h"
#include "state.h"
#include "win/af_irda.h"
#include "win/winsock.h"

namespace {

constexpr int kDiscoveries = 10;
constexpr DWORD kDiscoveryPauseMs = 100;
constexpr DWORD kClosePauseMs = 100;
constexpr const char kPrintService[] = "LSAP-SEL002";

// Calls are serialised on the connection's state; IRWrite sends outside the
// lock so that IRClose can end a send that the device holds up.
std::mutex g_irMutex;
SOCKET IrSocket = INVALID_SOCKET;

void CloseLocked() {
    if (IrSocket != INVALID_SOCKET) {
        Sleep(kClosePauseMs);
        closesocket(IrSocket);
    }
    IrSocket = INVALID_SOCKET;
}

void DropSocketLocked() {
    closesocket(IrSocket);
    IrSocket = INVALID_SOCKET;
}

}  // namespace

namespace ondrel {
void ReleaseInfrared() {
    std::lock_guard lock(g_irMutex);
    CloseLocked();
}
}  // namespace ondrel

ONDREL_API int IROpen(void) {
    SetLastError(0);
    std::lock_guard lock(g_irMutex);
    if (IrSocket != INVALID_SOCKET) CloseLocked();

    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    IrSocket = socket(AF_IRDA, SOCK_STREAM, 0);
    if (IrSocket == INVALID_SOCKET) return 0;
    int mode = 1;
    if (setsockopt(IrSocket, SOL_IRLMP, IRLMP_IRLPT_MODE, reinterpret_cast<const char*>(&mode), sizeof mode) ==
        SOCKET_ERROR) {
        DropSocketLocked();
        return 0;
    }

    DEVICELIST list{};
    list.numDevice = 0;
    int length = sizeof list;
    for (int attempt = 0; attempt < kDiscoveries; ++attempt) {
        getsockopt(IrSocket, SOL_IRLMP, IRLMP_ENUMDEVICES, reinterpret_cast<char*>(&list), &length);
        Sleep(kDiscoveryPauseMs);
        if (list.numDevice != 0) break;
    }
    if (list.numDevice == 0) return -1;  // the socket stays until the next IROpen or IRClose

    SOCKADDR_IRDA address{};
    address.irdaAddressFamily = AF_IRDA;
    std::memcpy(address.irdaDeviceID, list.Device[0].irdaDeviceID, sizeof address.irdaDeviceID);
    std::memcpy(address.irdaServiceName, kPrintService, sizeof kPrintService);
    if (connect(IrSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
        DropSocketLocked();
        return 0;
    }
    return 1;
}

ONDREL_API int IRWrite(const BYTE* pBytes, int count) {
    SetLastError(0);
    SOCKET s;
    {
        std::lock_guard lock(g_irMutex);
        s = IrSocket;
    }
    const char* bytes = reinterpret_cast<const char*>(pBytes);
    int sent = send(s, bytes, count, 0);
    if (sent > 0) return sent;
    sent = send(s, bytes, count, 0);
    return sent != 0 ? sent : 0;
}

ONDREL_API int IRClose(void) {
    SetLastError(0);
    std::lock_guard lock(g_irMutex);
    CloseLocked();
    return 1;
}
