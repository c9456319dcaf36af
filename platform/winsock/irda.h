// Private to the platform layer: IrDA stream sockets behind the Winsock
// calls. Nothing here sees the Winsock declarations (they clash with the
// POSIX ones this code uses); winsock_api.cpp translates between the two.
// Results are 0 or a Winsock error code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "win/types.h"

namespace platform::irda {

using DeviceId = std::array<uint8_t, 4>;

struct DeviceInfo {
    DeviceId id{};
    std::string name;  // at most kMaxNameBytes bytes
    uint8_t hints1 = 0;
    uint8_t hints2 = 0;
};

struct Address {
    DeviceId id{};
    std::string service;
};

constexpr size_t kMaxNameBytes = 21;     // 22-byte field with its terminator
constexpr size_t kMaxServiceBytes = 24;  // 25-byte field with its terminator
// What one send takes in IrLPT mode: one IrLMP data unit of the emulated
// link; the caller sends the rest.
constexpr size_t kIrlptPduSize = 1024;
constexpr uint8_t kPrinterHint = 0x08;

// One IrDA stream socket over a file descriptor.
class Socket {
public:
    virtual ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int fd() const { return fd_; }
    bool irlpt() const { return irlpt_; }
    bool connected() const { return connected_; }

    virtual int Discover(std::vector<DeviceInfo>* devices) = 0;
    virtual int SetIrlptMode(bool on);
    virtual int Connect(const Address& address) = 0;
    int Send(const void* data, size_t count, int flags, size_t* sent);
    int Recv(void* data, size_t count, int flags, size_t* received);
    // 0 milliseconds waits for ever, as on the device.
    int SetTimeout(bool sending, DWORD milliseconds);
    DWORD Timeout(bool sending) const { return sending ? sendTimeout_ : recvTimeout_; }
    // Wakes calls blocked on the socket; the descriptor is closed with the
    // last reference.
    void Shutdown();

protected:
    explicit Socket(int fd) : fd_(fd) {}
    void MarkConnected() { connected_ = true; }

private:
    int fd_;
    bool irlpt_ = false;
    bool connected_ = false;
    DWORD sendTimeout_ = 0;
    DWORD recvTimeout_ = 0;
};

// The kernel's IrDA stack when it has one and the registry allows it,
// otherwise the emulated neighbourhood.
std::shared_ptr<Socket> OpenSocket(int* error);

// Backends.
std::shared_ptr<Socket> OpenNativeSocket(int* error);  // null with WSAEAFNOSUPPORT when absent
std::shared_ptr<Socket> OpenEmulatedSocket(int* error);

// ---- Names of the emulated neighbourhood (pure, see win/af_irda.h).

struct EntryName {
    DeviceId id{};
    std::string name;
    std::string service;
    std::string file;  // as found in the directory (set by the listing)
};

std::string EncodeDeviceName(std::string_view name);
std::optional<std::string> DecodeDeviceName(std::string_view encoded);
std::string FormatEntryName(const EntryName& entry);
// Nothing for names that are not service sockets of a device.
std::optional<EntryName> ParseEntryName(std::string_view file);

// "LSAP-SEL<n>" with n from 1 to 127 (leading zeros allowed) gives n.
std::optional<int> LsapSelector(std::string_view service);
bool SameService(std::string_view a, std::string_view b);

// One entry per device, in the order of their identifiers; a device with an
// IrLMP ("LSAP-SEL") service carries the printer hint.
std::vector<DeviceInfo> DevicesFromEntries(const std::vector<EntryName>& entries);

// The emulation directory and whether the kernel's stack may be used, as
// the registry says.
std::string EmulationDirectory();
bool KernelStackAllowed();

}  // namespace platform::irda
