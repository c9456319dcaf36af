// The kernel's own IrDA stack (AF_IRDA), used when the kernel has one; the
// layouts are those of the kernel's interface, which Linux no longer ships
// in its headers.
#include <sys/socket.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "core/errno_map.h"
#include "winsock/irda.h"

namespace platform::irda {
namespace {

constexpr int kLinuxAfIrda = 23;
constexpr int kSolIrlmp = 266;
constexpr int kIrlmpEnumDevices = 1;
constexpr uint8_t kLsapAny = 0xFF;
constexpr int kMaxListed = 16;
constexpr int kWsaEafnosupport = 10047;
constexpr int kWsaEisconn = 10056;

struct LinuxSockaddrIrda {
    uint16_t sir_family;
    uint8_t sir_lsap_sel;
    uint32_t sir_addr;
    char sir_name[25];
};

struct LinuxDeviceInfo {
    uint32_t saddr;
    uint32_t daddr;
    char info[22];
    uint8_t charset;
    uint8_t hints[2];
};

struct LinuxDeviceList {
    uint32_t len;
    LinuxDeviceInfo dev[kMaxListed];
};

static_assert(sizeof(LinuxSockaddrIrda) == 36 && offsetof(LinuxSockaddrIrda, sir_addr) == 4, "kernel layout");
static_assert(sizeof(LinuxDeviceInfo) == 36 && offsetof(LinuxDeviceInfo, info) == 8, "kernel layout");

// "LSAP-SELn" names a selector directly; any other name is looked up in
// the peer's information base by the kernel.
LinuxSockaddrIrda ToLinuxAddress(const Address& address) {
    LinuxSockaddrIrda out{};
    out.sir_family = kLinuxAfIrda;
    std::memcpy(&out.sir_addr, address.id.data(), 4);
    if (auto selector = LsapSelector(address.service)) {
        out.sir_lsap_sel = static_cast<uint8_t>(*selector);
    } else {
        out.sir_lsap_sel = kLsapAny;
        std::strncpy(out.sir_name, address.service.c_str(), sizeof out.sir_name - 1);
    }
    return out;
}

class NativeSocket : public Socket {
public:
    explicit NativeSocket(int fd) : Socket(fd) {}

    int Discover(std::vector<DeviceInfo>* devices) override {
        devices->clear();
        LinuxDeviceList list{};
        socklen_t length = sizeof list;
        if (getsockopt(fd(), kSolIrlmp, kIrlmpEnumDevices, &list, &length) != 0)
            return errno == EAGAIN ? 0 : WsaErrorFromErrno(errno);  // EAGAIN: nobody in range
        for (uint32_t i = 0; i < list.len && i < kMaxListed; ++i) {
            const LinuxDeviceInfo& in = list.dev[i];
            DeviceInfo device;
            std::memcpy(device.id.data(), &in.daddr, 4);
            device.name.assign(in.info, strnlen(in.info, kMaxNameBytes));
            device.hints1 = in.hints[0];
            device.hints2 = in.hints[1];
            devices->push_back(std::move(device));
        }
        return 0;
    }

    // The kernel frames IrLPT connections itself; the mode is only kept.
    int Connect(const Address& address) override {
        if (connected()) return kWsaEisconn;
        LinuxSockaddrIrda target = ToLinuxAddress(address);
        int rc;
        do rc = ::connect(fd(), reinterpret_cast<const sockaddr*>(&target), sizeof target);
        while (rc != 0 && errno == EINTR);
        if (rc != 0) return WsaErrorFromErrno(errno);
        MarkConnected();
        return 0;
    }
};

}  // namespace

std::shared_ptr<Socket> OpenNativeSocket(int* error) {
    int fd = ::socket(kLinuxAfIrda, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = (errno == EAFNOSUPPORT || errno == EPROTONOSUPPORT || errno == EINVAL) ? kWsaEafnosupport
                                                                                       : WsaErrorFromErrno(errno);
        return nullptr;
    }
    *error = 0;
    return std::make_shared<NativeSocket>(fd);
}

}  // namespace platform::irda
