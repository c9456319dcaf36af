// Test support: an emulated IrDA device (a thread listening on a service
// socket in the emulation directory) and a scratch registry that points the
// platform at a fresh emulation directory. POSIX only: usable beside code
// that includes win/winsock.h, which must not meet <sys/socket.h>.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace irda_test {

using Id = std::array<uint8_t, 4>;

// A scratch registry ($PRESSEL_REGISTRY) with HKEY_LOCAL_MACHINE\Comm\IrDA
// "EmulationDir" set to a fresh directory and "KernelIrDA" 0.
class Neighbourhood {
public:
    Neighbourhood();
    ~Neighbourhood();
    const std::string& dir() const { return dir_; }
    const std::string& root() const { return root_; }  // holds the registry file too

private:
    std::string root_, dir_;
};

// A device offering one service; it accepts connections one after another
// and collects what each sends. Leaves (removes its socket) when destroyed.
class Device {
public:
    Device(const std::string& dir, Id id, const std::string& name, const std::string& service);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Everything received so far, over all connections.
    std::string Received() const;
    // Waits until at least `count` bytes arrived.
    bool WaitForBytes(size_t count, std::chrono::milliseconds timeout) const;
    // Waits until `count` connections have ended (the client closed).
    bool WaitForClosed(int count, std::chrono::milliseconds timeout) const;
    int Accepted() const;
    bool WaitForAccepted(int count, std::chrono::milliseconds timeout) const;
    // Sends bytes to the connected client.
    bool Reply(const std::string& bytes);
    // Ends the current connection from the device's side.
    void Hangup();
    // Stops reading (the connection stays), as a printer out of paper does.
    void Pause();

private:
    struct State;
    std::shared_ptr<State> state_;
};

// Counts directory listings of the emulation directory (one per discovery)
// with inotify, so that a test can act between two discoveries.
class ListingCounter {
public:
    explicit ListingCounter(const std::string& dir);
    ~ListingCounter();
    // Waits until `count` listings have finished; the number seen.
    int WaitForListings(int count, std::chrono::milliseconds timeout);
    int Listings();

private:
    int fd_ = -1;
    int seen_ = 0;
};

}  // namespace irda_test
