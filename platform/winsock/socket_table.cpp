#include "winsock/socket_table.h"

#include <map>
#include <mutex>

namespace platform::winsock {
namespace {

struct State {
    std::mutex mutex;
    int started = 0;
    std::map<int, std::shared_ptr<irda::Socket>> sockets;
};

State& Shared() {
    static auto* state = new State;  // never destroyed: sockets may be closed at exit
    return *state;
}

}  // namespace

void Startup() {
    std::lock_guard lock(Shared().mutex);
    ++Shared().started;
}

bool Cleanup() {
    auto& state = Shared();
    std::map<int, std::shared_ptr<irda::Socket>> closing;
    {
        std::lock_guard lock(state.mutex);
        if (state.started == 0) return false;
        if (--state.started == 0) closing.swap(state.sockets);
    }
    for (auto& [fd, socket] : closing) socket->Shutdown();
    return true;
}

bool Started() {
    std::lock_guard lock(Shared().mutex);
    return Shared().started > 0;
}

UINT_PTR Insert(std::shared_ptr<irda::Socket> socket) {
    auto& state = Shared();
    std::lock_guard lock(state.mutex);
    int fd = socket->fd();
    state.sockets[fd] = std::move(socket);
    return static_cast<UINT_PTR>(fd);
}

std::shared_ptr<irda::Socket> Find(UINT_PTR s) {
    auto& state = Shared();
    std::lock_guard lock(state.mutex);
    if (s > 0x7FFFFFFF) return nullptr;
    auto it = state.sockets.find(static_cast<int>(s));
    return it == state.sockets.end() ? nullptr : it->second;
}

std::shared_ptr<irda::Socket> Remove(UINT_PTR s) {
    auto& state = Shared();
    std::lock_guard lock(state.mutex);
    if (s > 0x7FFFFFFF) return nullptr;
    auto node = state.sockets.extract(static_cast<int>(s));
    return node.empty() ? nullptr : std::move(node.mapped());
}

}  // namespace platform::winsock
