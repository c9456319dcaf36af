// Private to the platform layer: Win32 sharing modes between opens of one file.
//
// Within the process the rules are exact: every open of a regular file is
// recorded with its access and share mode, and a new open (or a delete) that
// conflicts with one of them fails with ERROR_SHARING_VIOLATION. Between
// processes an open that shares nothing takes an exclusive flock() and every
// other open a shared one, so two processes of this system cannot both hold a
// file that one of them opened exclusively. That is advisory and coarser than
// Win32 (two sharing-but-incompatible opens in different processes are not
// caught), which is enough for output files and profiles.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "win/types.h"

namespace platform {

struct FileId {
    dev_t dev;
    ino_t ino;
    bool operator==(const FileId&) const = default;
};

// Would an open with (access, share) conflict with the existing one?
bool SharingConflicts(DWORD oldAccess, DWORD oldShare, DWORD newAccess, DWORD newShare);

// Records an open; returns 0 and sets ERROR_SHARING_VIOLATION on conflict.
uint64_t AcquireShare(FileId id, DWORD access, DWORD share);
void ReleaseShare(uint64_t ticket);

// True when some open of the file does not share deletion.
bool DeleteConflicts(FileId id);

}  // namespace platform
