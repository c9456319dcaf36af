// The Winsock calls: argument checks and Windows layouts here, the sockets
// themselves in irda_*.cpp. Every failure sets the thread's last error to a
// Winsock code.
#include <algorithm>
#include <cstring>

#include "core/trace.h"
#include "win/af_irda.h"
#include "win/base.h"
#include "win/winsock.h"
#include "winsock/socket_table.h"

namespace {

using platform::irda::Socket;
namespace table = platform::winsock;

constexpr WORD kHighestVersion = MAKEWORD(2, 2);

int Fail(int error) {
    SetLastError(static_cast<DWORD>(error));
    return SOCKET_ERROR;
}

int Result(int error) { return error == 0 ? 0 : Fail(error); }

// The socket behind s, or null with the last error set.
std::shared_ptr<Socket> Lookup(SOCKET s) {
    if (!table::Started()) {
        SetLastError(WSANOTINITIALISED);
        return nullptr;
    }
    auto socket = table::Find(s);
    if (!socket) SetLastError(WSAENOTSOCK);
    return socket;
}

int ReadInt(const char* optval, int optlen, int* value) {
    if (!optval || optlen < static_cast<int>(sizeof(int))) return WSAEFAULT;
    std::memcpy(value, optval, sizeof(int));
    return 0;
}

int WriteInt(int value, char* optval, int* optlen) {
    if (*optlen < static_cast<int>(sizeof(int))) return WSAEFAULT;
    std::memcpy(optval, &value, sizeof value);
    *optlen = sizeof value;
    return 0;
}

// The whole buffer is the answer: as many entries as fit, the unused rest
// zeroed, and the length left at the buffer's size, so that a caller that
// polls with the returned length keeps room for the device that appears.
int EnumDevices(Socket& socket, char* optval, int optlen) {
    if (optlen < static_cast<int>(offsetof(DEVICELIST, Device))) return WSAEFAULT;
    std::vector<platform::irda::DeviceInfo> devices;
    if (int err = socket.Discover(&devices)) return err;
    size_t room = (static_cast<size_t>(optlen) - offsetof(DEVICELIST, Device)) / sizeof(IRDA_DEVICE_INFO);
    ULONG count = static_cast<ULONG>(std::min(room, devices.size()));
    std::memset(optval, 0, static_cast<size_t>(optlen));
    std::memcpy(optval, &count, sizeof count);
    for (ULONG i = 0; i < count; ++i) {
        IRDA_DEVICE_INFO entry{};
        std::memcpy(entry.irdaDeviceID, devices[i].id.data(), 4);
        std::memcpy(entry.irdaDeviceName, devices[i].name.data(),
                    std::min(devices[i].name.size(), sizeof entry.irdaDeviceName - 1));
        entry.irdaDeviceHints1 = devices[i].hints1;
        entry.irdaDeviceHints2 = devices[i].hints2;
        std::memcpy(optval + offsetof(DEVICELIST, Device) + i * sizeof entry, &entry, sizeof entry);
    }
    return 0;
}

}  // namespace

WINBASEAPI int WINAPI WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
    PLATFORM_TRACE("WSAStartup(0x%04X)", wVersionRequested);
    BYTE major = LOBYTE(wVersionRequested), minor = HIBYTE(wVersionRequested);
    if (major < 1 || (major == 1 && minor < 1)) return WSAVERNOTSUPPORTED;
    if (!lpWSAData) return WSAEFAULT;
    std::memset(lpWSAData, 0, sizeof *lpWSAData);
    bool above = major > 2 || (major == 2 && minor > 2);
    lpWSAData->wVersion = above ? kHighestVersion : wVersionRequested;
    lpWSAData->wHighVersion = kHighestVersion;
    std::strcpy(lpWSAData->szDescription, "Pressel IrDA sockets");
    std::strcpy(lpWSAData->szSystemStatus, "Running");
    platform::winsock::Startup();
    return 0;
}

WINBASEAPI int WINAPI WSACleanup(void) {
    PLATFORM_TRACE("WSACleanup");
    return table::Cleanup() ? 0 : Fail(WSANOTINITIALISED);
}

WINBASEAPI int WINAPI WSAGetLastError(void) { return static_cast<int>(GetLastError()); }

WINBASEAPI void WINAPI WSASetLastError(int iError) { SetLastError(static_cast<DWORD>(iError)); }

WINBASEAPI SOCKET WINAPI socket(int af, int type, int protocol) {
    PLATFORM_TRACE("socket(%d, %d, %d)", af, type, protocol);
    int error = 0;
    if (!table::Started()) error = WSANOTINITIALISED;
    else if (af != AF_IRDA) error = WSAEAFNOSUPPORT;
    else if (type != SOCK_STREAM) error = WSAESOCKTNOSUPPORT;
    else if (protocol != 0) error = WSAEPROTONOSUPPORT;
    if (error) {
        Fail(error);
        return INVALID_SOCKET;
    }
    auto socket = platform::irda::OpenSocket(&error);
    if (!socket) {
        Fail(error);
        return INVALID_SOCKET;
    }
    return table::Insert(std::move(socket));
}

WINBASEAPI int WINAPI setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
    PLATFORM_TRACE("setsockopt(0x%X, 0x%X)", level, optname);
    auto socket = Lookup(s);
    if (!socket) return SOCKET_ERROR;
    int value = 0;
    if (int err = ReadInt(optval, optlen, &value)) return Fail(err);
    if (level == SOL_IRLMP && optname == IRLMP_IRLPT_MODE) return Result(socket->SetIrlptMode(value != 0));
    if (level == SOL_SOCKET && (optname == SO_SNDTIMEO || optname == SO_RCVTIMEO))
        return Result(socket->SetTimeout(optname == SO_SNDTIMEO, static_cast<DWORD>(value)));
    return Fail(WSAENOPROTOOPT);
}

WINBASEAPI int WINAPI getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
    PLATFORM_TRACE("getsockopt(0x%X, 0x%X)", level, optname);
    auto socket = Lookup(s);
    if (!socket) return SOCKET_ERROR;
    if (!optval || !optlen) return Fail(WSAEFAULT);
    if (level == SOL_IRLMP) {
        switch (optname) {
            case IRLMP_ENUMDEVICES: return Result(EnumDevices(*socket, optval, *optlen));
            case IRLMP_IRLPT_MODE: return Result(WriteInt(socket->irlpt() ? 1 : 0, optval, optlen));
            case IRLMP_SEND_PDU_LEN:
                return Result(WriteInt(static_cast<int>(platform::irda::kIrlptPduSize), optval, optlen));
        }
    } else if (level == SOL_SOCKET) {
        switch (optname) {
            case SO_SNDTIMEO:
            case SO_RCVTIMEO:
                return Result(WriteInt(static_cast<int>(socket->Timeout(optname == SO_SNDTIMEO)), optval, optlen));
            case SO_TYPE: return Result(WriteInt(SOCK_STREAM, optval, optlen));
        }
    }
    return Fail(WSAENOPROTOOPT);
}

WINBASEAPI int WINAPI connect(SOCKET s, const struct sockaddr* name, int namelen) {
    PLATFORM_TRACE("connect");
    auto socket = Lookup(s);
    if (!socket) return SOCKET_ERROR;
    if (!name || namelen < static_cast<int>(sizeof(u_short))) return Fail(WSAEFAULT);
    SOCKADDR_IRDA address{};
    std::memcpy(&address, name, std::min(sizeof address, static_cast<size_t>(namelen)));
    if (address.irdaAddressFamily != AF_IRDA) return Fail(WSAEAFNOSUPPORT);
    if (namelen < static_cast<int>(sizeof address)) return Fail(WSAEFAULT);
    size_t serviceLength = strnlen(address.irdaServiceName, sizeof address.irdaServiceName);
    if (serviceLength == 0 || serviceLength == sizeof address.irdaServiceName) return Fail(WSAEINVAL);
    platform::irda::Address target;
    std::memcpy(target.id.data(), address.irdaDeviceID, 4);
    target.service.assign(address.irdaServiceName, serviceLength);
    return Result(socket->Connect(target));
}

WINBASEAPI int WINAPI send(SOCKET s, const char* buf, int len, int flags) {
    PLATFORM_TRACE("send(%d)", len);
    auto socket = Lookup(s);
    if (!socket) return SOCKET_ERROR;
    if (len < 0) return Fail(WSAEINVAL);
    if (!buf && len > 0) return Fail(WSAEFAULT);
    size_t sent = 0;
    if (int err = socket->Send(buf, static_cast<size_t>(len), flags, &sent)) return Fail(err);
    return static_cast<int>(sent);
}

WINBASEAPI int WINAPI recv(SOCKET s, char* buf, int len, int flags) {
    PLATFORM_TRACE("recv(%d)", len);
    auto socket = Lookup(s);
    if (!socket) return SOCKET_ERROR;
    if (len < 0) return Fail(WSAEINVAL);
    if (!buf && len > 0) return Fail(WSAEFAULT);
    size_t received = 0;
    if (int err = socket->Recv(buf, static_cast<size_t>(len), flags, &received)) return Fail(err);
    return static_cast<int>(received);
}

WINBASEAPI int WINAPI closesocket(SOCKET s) {
    PLATFORM_TRACE("closesocket");
    if (!table::Started()) return Fail(WSANOTINITIALISED);
    auto socket = table::Remove(s);
    if (!socket) return Fail(WSAENOTSOCK);
    // A call still blocked on the socket in another thread is woken; with
    // none, the descriptor just closes (a duplicate of it stays connected).
    if (socket.use_count() > 1) socket->Shutdown();
    return 0;
}
