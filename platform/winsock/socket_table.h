// Private to the platform layer: the Winsock start-up count and the table
// of open sockets. A SOCKET is the descriptor number of its socket, which
// stays reserved while the object lives.
#pragma once

#include <memory>

#include "winsock/irda.h"

namespace platform::winsock {

// WSAStartup/WSACleanup; Cleanup returns false when nothing was started and
// closes every socket when the count falls to 0.
void Startup();
bool Cleanup();
bool Started();

UINT_PTR Insert(std::shared_ptr<irda::Socket> socket);
std::shared_ptr<irda::Socket> Find(UINT_PTR s);
std::shared_ptr<irda::Socket> Remove(UINT_PTR s);

}  // namespace platform::winsock
