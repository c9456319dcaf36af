#include "file/share.h"

#include <mutex>
#include <vector>

#include "win/base.h"

namespace platform {
namespace {

constexpr DWORD kReadLike = GENERIC_READ | GENERIC_EXECUTE | GENERIC_ALL;
constexpr DWORD kWriteLike = GENERIC_WRITE | GENERIC_ALL;

struct ShareEntry {
    uint64_t ticket;
    FileId id;
    DWORD access;
    DWORD share;
};

struct ShareTable {
    std::mutex mutex;
    std::vector<ShareEntry> entries;
    uint64_t nextTicket = 1;
};

ShareTable& Table() {
    static auto* table = new ShareTable;  // never destroyed: handles may close at exit
    return *table;
}

}  // namespace

bool SharingConflicts(DWORD oldAccess, DWORD oldShare, DWORD newAccess, DWORD newShare) {
    // Opens without data access (attribute queries) take no part in sharing.
    if (!(oldAccess & (kReadLike | kWriteLike)) || !(newAccess & (kReadLike | kWriteLike))) return false;
    if ((newAccess & kReadLike) && !(oldShare & FILE_SHARE_READ)) return true;
    if ((newAccess & kWriteLike) && !(oldShare & FILE_SHARE_WRITE)) return true;
    if ((oldAccess & kReadLike) && !(newShare & FILE_SHARE_READ)) return true;
    if ((oldAccess & kWriteLike) && !(newShare & FILE_SHARE_WRITE)) return true;
    return false;
}

uint64_t AcquireShare(FileId id, DWORD access, DWORD share) {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    for (const auto& e : table.entries) {
        if (e.id == id && SharingConflicts(e.access, e.share, access, share)) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return 0;
        }
    }
    uint64_t ticket = table.nextTicket++;
    table.entries.push_back({ticket, id, access, share});
    return ticket;
}

void ReleaseShare(uint64_t ticket) {
    if (ticket == 0) return;
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    std::erase_if(table.entries, [ticket](const ShareEntry& e) { return e.ticket == ticket; });
}

bool DeleteConflicts(FileId id) {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    for (const auto& e : table.entries)
        if (e.id == id && !(e.share & FILE_SHARE_DELETE)) return true;
    return false;
}

}  // namespace platform
