// Private to the port library: one open printer channel over a file
// descriptor (a TCP socket, or a device or file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "address.h"

namespace farsend {

// How long a connect may take, and how long a send may make no progress
// before the peer counts as stuck.
constexpr int kConnectTimeoutMs = 5000;
constexpr int kSendStallTimeoutMs = 15000;

class Channel {
public:
    // Null when the target cannot be opened.
    static std::unique_ptr<Channel> Open(const Target& target);
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // Every byte or failure; retries partial writes and interruptions.
    bool SendAll(const uint8_t* data, size_t count, int stallTimeoutMs = kSendStallTimeoutMs);
    // Tells a network peer that the job is complete; the descriptor is
    // closed when the last user lets go of the channel.
    void Shutdown();

private:
    Channel(int fd, bool socket) : fd_(fd), socket_(socket) {}
    int fd_;
    bool socket_;
};

}  // namespace farsend
