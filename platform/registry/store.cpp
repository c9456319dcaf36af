#include "registry/store.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string_view>

#include "core/errno_map.h"
#include "win/base.h"

namespace platform::registry {
namespace {

struct FileId {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long long mtimeNs = 0;
    bool operator==(const FileId&) const = default;
};

FileId IdOf(const struct stat& st) {
    return {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
}

struct Cache {
    std::mutex mutex;
    bool loaded = false;
    std::string path;
    FileId id;
    Tree tree;
    LONG status = ERROR_SUCCESS;  // ERROR_REGISTRY_CORRUPT while the file is malformed
    std::string reportedPath;     // the malformed file last complained about
    FileId reportedId;
};

Cache& TheCache() {
    static Cache* cache = [] {
        auto* c = new Cache;  // never destroyed: used at exit
        // A fork while another thread holds the mutex would leave the
        // child's copy locked forever; hold it across fork instead.
        pthread_atfork([] { TheCache().mutex.lock(); }, [] { TheCache().mutex.unlock(); },
                       [] { TheCache().mutex.unlock(); });
        return c;
    }();
    return *cache;
}

// Closes a descriptor on every path out.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

LONG ErrnoCode(int err) { return LONG(Win32ErrorFromErrno(err)); }

bool ReadAll(int fd, std::string* out) {
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        out->append(buf, size_t(n));
    }
}

bool WriteAll(int fd, const std::string& data) {
    for (size_t done = 0; done < data.size();) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        done += size_t(n);
    }
    return true;
}

std::string DirOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

int MakeDirs(const std::string& dir) {
    if (dir.empty() || dir == "/" || dir == ".") return 0;
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (int err = MakeDirs(DirOf(dir))) return err;
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    return 0;
}

// Whether a cached file version can be trusted by its identity alone. A
// file replaced within the same clock tick may reuse the freed inode with
// the same size and time stamp, so young files are read again.
bool SettledSince(const struct stat& st) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    long long age = (now.tv_sec - st.st_mtim.tv_sec) * 1000000000LL + (now.tv_nsec - st.st_mtim.tv_nsec);
    return age > 200000000LL;
}

// Brings the cache up to date with the file. Caller holds the mutex;
// writers (holding the file lock) pass force to read the file regardless.
LONG Refresh(Cache& cache, bool force) {
    std::string path = StoreFilePath();
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) return ErrnoCode(errno);
        if (!cache.loaded || cache.path != path || cache.id.exists) {
            cache.loaded = true;
            cache.path = path;
            cache.id = {};
            cache.tree = Tree();
            cache.status = ERROR_SUCCESS;
        }
        return ERROR_SUCCESS;
    }
    if (!force && cache.loaded && cache.path == path && cache.id == IdOf(st) && SettledSince(st)) return cache.status;

    Fd file;
    file.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file.fd < 0) return ErrnoCode(errno);
    std::string bytes;
    if (fstat(file.fd, &st) != 0 || !ReadAll(file.fd, &bytes)) return ErrnoCode(errno);

    std::vector<Op> ops;
    ParseError error;
    cache.loaded = true;
    cache.path = path;
    cache.id = IdOf(st);
    cache.tree = Tree();
    if (!ParseRegText(bytes, &ops, &error)) {
        // Said once per version of the file, not on every call.
        if (cache.reportedPath != path || !(cache.reportedId == cache.id)) {
            std::fprintf(stderr, "pressel: registry file %s is malformed at line %d: %s\n", path.c_str(), error.line,
                         error.message.c_str());
            cache.reportedPath = path;
            cache.reportedId = cache.id;
        }
        cache.status = ERROR_REGISTRY_CORRUPT;
        return cache.status;
    }
    ApplyOps(cache.tree, ops);
    cache.status = ERROR_SUCCESS;
    return ERROR_SUCCESS;
}

// A writer's temporary file: "<store>.tmp-" and six characters from
// mkostemp. The writer holds a lock on it until it is renamed over the store
// or removed.
constexpr std::string_view kTempInfix = ".tmp-";

bool IsTemporaryName(std::string_view name, std::string_view storeName) {
    return name.size() == storeName.size() + kTempInfix.size() + 6 && name.starts_with(storeName) &&
           name.substr(storeName.size(), kTempInfix.size()) == kTempInfix;
}

// Removes the temporary files that writers left when they died before
// renaming them. A file whose lock can be taken has no live writer; one a
// writer still holds stays, even if the store's lock file was taken away
// from under that writer.
void RemoveStaleTemporaries(const std::string& path) {
    const std::string dirPath = DirOf(path);
    const std::string storeName = path.substr(path.rfind('/') + 1);
    DIR* dir = opendir(dirPath.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = readdir(dir)) {
        if (!IsTemporaryName(entry->d_name, storeName)) continue;
        Fd file;
        file.fd = openat(dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat st;
        if (file.fd >= 0 && fstat(file.fd, &st) == 0 && S_ISREG(st.st_mode) && flock(file.fd, LOCK_EX | LOCK_NB) == 0)
            unlinkat(dirfd(dir), entry->d_name, 0);
    }
    closedir(dir);
}

// Replaces the store file by text; *id receives the new file's identity.
LONG ReplaceFile(const std::string& path, const std::string& text, FileId* id) {
    std::string tmp = path + std::string(kTempInfix) + "XXXXXX";
    Fd file;
    file.fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (file.fd < 0) return ErrnoCode(errno);
    // Keep the mode the user gave the store; a new store is private.
    struct stat st;
    mode_t mode = stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0600;
    if (flock(file.fd, LOCK_EX) != 0 || !WriteAll(file.fd, text) || fchmod(file.fd, mode) != 0 ||
        fsync(file.fd) != 0 || fstat(file.fd, &st) != 0 || rename(tmp.c_str(), path.c_str()) != 0) {
        int err = errno;
        unlink(tmp.c_str());
        return ErrnoCode(err);
    }
    *id = IdOf(st);
    Fd dir;
    dir.fd = open(DirOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir.fd >= 0) fsync(dir.fd);
    return ERROR_SUCCESS;
}

}  // namespace

std::string StoreFilePath() {
    if (const char* p = std::getenv("PRESSEL_REGISTRY"); p && *p) return p;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/pressel/registry.reg";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/pressel/registry.reg";
}

LONG ReadStore(const std::function<LONG(const Tree&)>& fn) {
    Cache& cache = TheCache();
    std::lock_guard lock(cache.mutex);
    if (LONG rc = Refresh(cache, false)) return rc;
    return fn(cache.tree);
}

LONG WriteStore(const std::function<LONG(Tree&, bool* changed)>& fn) {
    Cache& cache = TheCache();
    std::lock_guard lock(cache.mutex);
    std::string path = StoreFilePath();
    if (int err = MakeDirs(DirOf(path))) return ErrnoCode(err);
    Fd lockFile;
    lockFile.fd = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFile.fd < 0) return ErrnoCode(errno);
    while (flock(lockFile.fd, LOCK_EX) != 0)
        if (errno != EINTR) return ErrnoCode(errno);
    // The lock is released when lockFile closes.
    RemoveStaleTemporaries(path);
    if (LONG rc = Refresh(cache, true)) return rc;
    Tree copy = cache.tree;
    bool changed = false;
    if (LONG rc = fn(copy, &changed)) return rc;
    if (!changed) return ERROR_SUCCESS;
    FileId id;
    if (LONG rc = ReplaceFile(path, ExportTree(copy), &id)) return rc;
    cache.tree = std::move(copy);
    cache.id = id;
    cache.path = path;
    cache.status = ERROR_SUCCESS;
    return ERROR_SUCCESS;
}

}  // namespace platform::registry
