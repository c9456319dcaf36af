// The "IRDA" channel. Winsock and POSIX socket declarations do not mix, so
// this file alone speaks Winsock; it hands the channel a duplicate of the
// connected socket's descriptor, which outlives the closed SOCKET.
#include "irda.h"

#include <fcntl.h>

#include <cstring>

#include "win/af_irda.h"
#include "win/base.h"
#include "win/winsock.h"

namespace farsend {
namespace {

constexpr char kPrintService[] = "LSAP-SEL002";

// The first device in range, tried a few times.
bool FindDevice(SOCKET s, u_char id[4]) {
    for (int attempt = 0; attempt < kIrdaDiscoveries; ++attempt) {
        DEVICELIST list{};
        int length = sizeof list;
        if (getsockopt(s, SOL_IRLMP, IRLMP_ENUMDEVICES, reinterpret_cast<char*>(&list), &length) == 0 &&
            list.numDevice > 0) {
            std::memcpy(id, list.Device[0].irdaDeviceID, 4);
            return true;
        }
        Sleep(kIrdaDiscoveryPauseMs);
    }
    return false;
}

int Connect(SOCKET s) {
    int mode = 1;
    if (setsockopt(s, SOL_IRLMP, IRLMP_IRLPT_MODE, reinterpret_cast<const char*>(&mode), sizeof mode) != 0)
        return -1;
    SOCKADDR_IRDA address{};
    address.irdaAddressFamily = AF_IRDA;
    if (!FindDevice(s, address.irdaDeviceID)) return -1;
    std::memcpy(address.irdaServiceName, kPrintService, sizeof kPrintService);
    if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return -1;
    return fcntl(static_cast<int>(s), F_DUPFD_CLOEXEC, 0);
}

}  // namespace

int OpenIrdaDescriptor() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return -1;
    int fd = -1;
    SOCKET s = socket(AF_IRDA, SOCK_STREAM, 0);
    if (s != INVALID_SOCKET) {
        fd = Connect(s);
        closesocket(s);
    }
    WSACleanup();
    return fd;
}

}  // namespace farsend
