// Private to the platform layer: the registry store file and its cache.
//
// One process-wide cache of the tree, re-read whenever the file changed (by
// device, inode, size and modification time), so that changes of other
// processes are seen. Writers take an exclusive flock on "<file>.lock",
// remove the temporary files of writers that died, re-read, change, write a
// temporary file beside the store (locked while they write it), fsync it,
// rename it over the store and fsync the directory: concurrent writers never
// lose each other's updates and a crash leaves the old or the new file.
#pragma once

#include <functional>
#include <string>

#include "registry/regtext.h"

namespace platform::registry {

std::string StoreFilePath();

// Runs fn on the current tree under the cache mutex. A malformed or
// unreadable store gives ERROR_REGISTRY_CORRUPT (or the I/O error) without
// calling fn.
LONG ReadStore(const std::function<LONG(const Tree&)>& fn);

// Runs fn on a copy of the current tree under the file lock; when fn returns
// ERROR_SUCCESS and sets *changed, the copy is written back. A malformed
// store is never replaced: the write fails with ERROR_REGISTRY_CORRUPT.
LONG WriteStore(const std::function<LONG(Tree&, bool* changed)>& fn);

}  // namespace platform::registry
