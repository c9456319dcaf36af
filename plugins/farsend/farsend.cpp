// The port library: printer channels behind small integer handles.
#include "farsend.h"

#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "channel.h"

namespace {

// Handles are 1 + the slot index, so that -1 and 0 are never handles.
constexpr size_t kMaxChannels = 1024;

struct ChannelTable {
    std::mutex mutex;
    std::vector<std::shared_ptr<farsend::Channel>> slots;
};

// Destroyed when the library is unloaded, which the control does after
// every job: whatever is still open then is closed, nothing leaks.
ChannelTable& Table() {
    static ChannelTable table;
    return table;
}

LONG Insert(std::shared_ptr<farsend::Channel> channel) {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    size_t slot = 0;
    while (slot < table.slots.size() && table.slots[slot]) ++slot;
    if (slot == kMaxChannels) return -1;
    if (slot == table.slots.size()) table.slots.emplace_back();
    table.slots[slot] = std::move(channel);
    return static_cast<LONG>(slot + 1);
}

bool SlotOf(LONG handle, size_t* slot) {
    if (handle < 1 || static_cast<size_t>(handle) > kMaxChannels) return false;
    *slot = static_cast<size_t>(handle) - 1;
    return true;
}

// A copy of the reference, so that a concurrent close cannot pull the
// descriptor away from a send in progress.
std::shared_ptr<farsend::Channel> Find(LONG handle) {
    auto& table = Table();
    size_t slot;
    std::lock_guard lock(table.mutex);
    if (!SlotOf(handle, &slot) || slot >= table.slots.size()) return nullptr;
    return table.slots[slot];
}

std::shared_ptr<farsend::Channel> Remove(LONG handle) {
    auto& table = Table();
    size_t slot;
    std::lock_guard lock(table.mutex);
    if (!SlotOf(handle, &slot) || slot >= table.slots.size()) return nullptr;
    return std::move(table.slots[slot]);
}

}  // namespace

FARSEND_API LONG PrinterOpen(const WCHAR* port) {
    if (!port) return -1;
    farsend::Target target = farsend::ParsePortName(std::u16string_view(port));
    std::shared_ptr<farsend::Channel> channel = farsend::Channel::Open(target);
    if (!channel) return -1;
    return Insert(std::move(channel));
}

FARSEND_API BOOL PrinterSend(LONG handle, const BYTE* data, DWORD count) {
    auto channel = Find(handle);
    if (!channel) return FALSE;
    return channel->SendAll(data, count) ? TRUE : FALSE;
}

FARSEND_API void PrinterClose(LONG handle) {
    if (auto channel = Remove(handle)) channel->Shutdown();
}
