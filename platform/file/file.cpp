// Files and character devices opened by path: CreateFileW and the calls that
// work on what it returns.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>

#include "core/errno_map.h"
#include "core/handles.h"
#include "core/hot.h"
#include "core/names.h"
#include "core/trace.h"
#include "core/utf.h"
#include "file/path.h"
#include "file/share.h"
#include "win/base.h"

namespace platform {
namespace {

constexpr DWORD kReadAccess = GENERIC_READ | GENERIC_EXECUTE | GENERIC_ALL;
constexpr DWORD kWriteAccess = GENERIC_WRITE | GENERIC_ALL;
// A name that keeps appearing and vanishing between our two open attempts is
// given up on rather than chased for ever.
constexpr int kCreateRaceRetries = 8;

class FileObject : public KernelObject {
public:
    FileObject(int fd, bool regular, bool pipe, bool canRead, bool canWrite)
        : fd_(fd), regular_(regular), pipe_(pipe), canRead_(canRead), canWrite_(canWrite) {}
    ~FileObject() override {
        ReleaseShare(ticket_);
        ::close(fd_);
    }

    void HoldShare(uint64_t ticket) { ticket_ = ticket; }
    int fd() const { return fd_; }
    bool regular() const { return regular_; }

    BOOL Read(void* buffer, DWORD count, DWORD* done) override;
    BOOL Write(const void* buffer, DWORD count, DWORD* done) override;
    // The descriptor stays open until the last in-flight call lets go of the
    // object; the sharing claim ends now, so the file can be reopened at once.
    BOOL Close() override {
        ReleaseShare(ticket_);
        ticket_ = 0;
        if (regular_) ::flock(fd_, LOCK_UN);
        return TRUE;
    }

private:
    ssize_t WriteOnce(const char* bytes, size_t count) {
        return pipe_ ? WriteToPipe(bytes, count) : ::write(fd_, bytes, count);
    }
    ssize_t WriteToPipe(const char* bytes, size_t count);

    int fd_;
    bool regular_;
    bool pipe_;
    bool canRead_;
    bool canWrite_;
    uint64_t ticket_ = 0;
};

// What a read or write answers before any I/O: it needs the access the file
// was opened with, an empty request succeeds, the rest needs a buffer.
// Empty when the transfer goes on.
std::optional<BOOL> AnswerBeforeIo(bool allowed, DWORD count, const void* buffer) {
    if (!allowed) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (count == 0) return TRUE;
    if (!buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return std::nullopt;
}

BOOL FileObject::Read(void* buffer, DWORD count, DWORD* done) {
    *done = 0;
    if (auto answer = AnswerBeforeIo(canRead_, count, buffer)) return *answer;
    auto* bytes = static_cast<char*>(buffer);
    while (*done < count) {
        ssize_t n = ::read(fd_, bytes + *done, count - *done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return FailWithErrno(errno);
        }
        if (n == 0) break;  // end of file: success with what was read
        *done += static_cast<DWORD>(n);
        // A device returns what it has; only files are read to the full count.
        if (!regular_) break;
    }
    return TRUE;
}

PLATFORM_HOT BOOL FileObject::Write(const void* buffer, DWORD count, DWORD* done) {
    *done = 0;
    if (auto answer = AnswerBeforeIo(canWrite_, count, buffer)) return *answer;
    const auto* bytes = static_cast<const char*>(buffer);
    while (*done < count) {
        ssize_t n = WriteOnce(bytes + *done, count - *done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return FailWithErrno(errno);
        }
        *done += static_cast<DWORD>(n);
    }
    return TRUE;
}

// A named pipe whose reader has gone raises SIGPIPE, which would end the
// process; the signal is held back for this thread and the write fails with
// ERROR_BROKEN_PIPE instead.
ssize_t FileObject::WriteToPipe(const char* bytes, size_t count) {
    sigset_t pipeOnly, old;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    bool alreadyPending = sigismember(&pending, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &old);
    ssize_t n = ::write(fd_, bytes, count);
    int err = errno;
    if (n < 0 && err == EPIPE && !alreadyPending) {
        timespec zero{0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = err;
    return n;
}

int OpenMode(DWORD access) {
    bool r = access & kReadAccess, w = access & kWriteAccess;
    return r && w ? O_RDWR : w ? O_WRONLY : O_RDONLY;
}

DWORD OpenErrorFor(int err, const std::string& path) {
    switch (err) {
        case ENOENT: return MissingPathError(path);
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EISDIR: return ERROR_ACCESS_DENIED;
        default: return Win32ErrorFromErrno(err);
    }
}

int OpenRetrying(const char* path, int flags, mode_t permissions) {
    int fd;
    do fd = ::open(path, flags, permissions);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens according to the disposition; *existed tells whether the file was
// there before. Returns -1 with the Win32 last error set.
int OpenForDisposition(const std::string& path, int mode, DWORD disposition, DWORD flags, bool* existed) {
    *existed = true;
    mode_t permissions = (flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    int fd = -1;
    switch (disposition) {
        case CREATE_NEW:
            fd = OpenRetrying(path.c_str(), mode | O_CREAT | O_EXCL, permissions);
            if (fd < 0) {
                SetLastError(errno == EEXIST ? ERROR_FILE_EXISTS : OpenErrorFor(errno, path));
                return -1;
            }
            *existed = false;
            return fd;
        case CREATE_ALWAYS:
        case OPEN_ALWAYS:
            // Exclusive create first, so that we know whether the file existed.
            for (int i = 0; i < kCreateRaceRetries; ++i) {
                fd = OpenRetrying(path.c_str(), mode | O_CREAT | O_EXCL, permissions);
                if (fd >= 0) {
                    *existed = false;
                    return fd;
                }
                if (errno != EEXIST) break;
                fd = OpenRetrying(path.c_str(), mode, 0);
                if (fd >= 0 || errno != ENOENT) break;
            }
            break;
        default:  // OPEN_EXISTING, TRUNCATE_EXISTING
            fd = OpenRetrying(path.c_str(), mode, 0);
            break;
    }
    if (fd < 0) SetLastError(OpenErrorFor(errno, path));
    return fd;
}

HANDLE FailOpen(int fd, DWORD error) {
    if (fd >= 0) ::close(fd);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

// Cross-process part of the sharing rules (see file/share.h).
bool LockAcrossProcesses(int fd, DWORD access, DWORD share) {
    if (access == 0) return true;
    int op = (share & (FILE_SHARE_READ | FILE_SHARE_WRITE)) ? LOCK_SH : LOCK_EX;
    int rc;
    do rc = ::flock(fd, op | LOCK_NB);
    while (rc < 0 && errno == EINTR);
    // Only a held lock is a conflict; file systems without flock are let be.
    return rc == 0 || errno != EWOULDBLOCK;
}

HANDLE OpenPath(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    if (path.empty()) return FailOpen(-1, ERROR_PATH_NOT_FOUND);
    if (disposition == TRUNCATE_EXISTING && !(access & kWriteAccess)) return FailOpen(-1, ERROR_INVALID_PARAMETER);

    // Truncation is done after the sharing check (a file held without write
    // sharing must not lose its contents), so it needs a writable descriptor.
    int mode = OpenMode(access);
    if (disposition == CREATE_ALWAYS && mode == O_RDONLY) mode = O_RDWR;
    // Non-blocking only while opening: a named pipe without a reader fails
    // instead of hanging, and a terminal does not wait for its carrier.
    mode |= O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if (flags & FILE_FLAG_WRITE_THROUGH) mode |= O_DSYNC;

    bool existed = false;
    int fd = OpenForDisposition(path, mode, disposition, flags, &existed);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        return FailOpen(fd, Win32ErrorFromErrno(errno));

    struct stat st;
    if (::fstat(fd, &st) != 0) return FailOpen(fd, Win32ErrorFromErrno(errno));
    if (S_ISDIR(st.st_mode)) return FailOpen(fd, ERROR_ACCESS_DENIED);
    bool regular = S_ISREG(st.st_mode);

    auto object = std::make_shared<FileObject>(fd, regular, S_ISFIFO(st.st_mode), (access & kReadAccess) != 0,
                                               (access & kWriteAccess) != 0);
    // Sharing applies to files; devices such as /dev/null or a terminal are
    // opened by as many as ask.
    if (regular) {
        uint64_t ticket = AcquireShare(FileId{st.st_dev, st.st_ino}, access, share);
        if (ticket == 0) return INVALID_HANDLE_VALUE;  // object closes fd
        object->HoldShare(ticket);
        if (!LockAcrossProcesses(fd, access, share)) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return INVALID_HANDLE_VALUE;
        }
        bool truncate = disposition == TRUNCATE_EXISTING || (disposition == CREATE_ALWAYS && existed);
        if (truncate && st.st_size != 0 && ::ftruncate(fd, 0) != 0) {
            FailWithErrno(errno);
            return INVALID_HANDLE_VALUE;
        }
    }

    HANDLE handle = AddHandle(std::move(object));
    if (handle == INVALID_HANDLE_VALUE) return handle;
    bool reportsExisting = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    SetLastError(reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

// The file object behind a handle; ERROR_INVALID_FUNCTION for other objects.
std::shared_ptr<FileObject> LookupFile(HANDLE handle) {
    auto object = LookupHandle(handle);
    if (!object) return nullptr;
    auto file = std::dynamic_pointer_cast<FileObject>(object);
    if (!file) SetLastError(ERROR_INVALID_FUNCTION);
    return file;
}

}  // namespace
}  // namespace platform

WINBASEAPI HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                     HANDLE) {
    PLATFORM_TRACE("CreateFileW(%s,0x%x,%u)", platform::ToUtf8(lpFileName).c_str(), dwDesiredAccess,
                   dwCreationDisposition);
    if (!lpFileName || dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    platform::OpenRequest request{lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition,
                                  dwFlagsAndAttributes};
    HANDLE special = INVALID_HANDLE_VALUE;
    if (platform::OpenSpecialName(request, &special)) return special;
    return platform::OpenPath(platform::PosixPath(lpFileName), dwDesiredAccess, dwShareMode, dwCreationDisposition,
                              dwFlagsAndAttributes);
}

WINBASEAPI DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    auto file = platform::LookupFile(hFile);
    if (!file) return INVALID_FILE_SIZE;
    struct stat st;
    if (::fstat(file->fd(), &st) != 0) {
        platform::FailWithErrno(errno);
        return INVALID_FILE_SIZE;
    }
    auto size = static_cast<uint64_t>(file->regular() ? st.st_size : 0);
    if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    auto low = static_cast<DWORD>(size);
    // A size whose low part looks like the failure value is told apart by the
    // last error.
    if (low == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
    return low;
}

WINBASEAPI DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                                       DWORD dwMoveMethod) {
    auto file = platform::LookupFile(hFile);
    if (!file) return INVALID_SET_FILE_POINTER;
    int whence = dwMoveMethod == FILE_BEGIN ? SEEK_SET : dwMoveMethod == FILE_CURRENT ? SEEK_CUR
               : dwMoveMethod == FILE_END   ? SEEK_END : -1;
    if (whence < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t distance = lpDistanceToMoveHigh
        ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                               static_cast<uint32_t>(lDistanceToMove))
        : lDistanceToMove;
    off_t base = 0;
    if (whence != SEEK_SET) {
        base = ::lseek(file->fd(), 0, whence);
        if (base < 0) {
            platform::FailWithErrno(errno);
            return INVALID_SET_FILE_POINTER;
        }
    }
    // Checked here rather than left to lseek, so that a refused move leaves
    // the position where it was.
    __int128 target = static_cast<__int128>(base) + distance;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (!lpDistanceToMoveHigh && target > 0xFFFFFFFEu) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (target > INT64_MAX || ::lseek(file->fd(), static_cast<off_t>(target), SEEK_SET) < 0) {
        platform::FailWithErrno(target > INT64_MAX ? EINVAL : errno);
        return INVALID_SET_FILE_POINTER;
    }
    auto position = static_cast<uint64_t>(target);
    if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(position >> 32);
    auto low = static_cast<DWORD>(position);
    if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
    return low;
}

WINBASEAPI BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
    auto file = platform::LookupFile(hFile);
    if (!file) return FALSE;
    int rc;
    if (::isatty(file->fd())) {
        do rc = ::tcdrain(file->fd());
        while (rc < 0 && errno == EINTR);
    } else {
        rc = ::fsync(file->fd());
        // Pipes and most character devices have nothing to flush.
        if (rc < 0 && (errno == EINVAL || errno == EROFS)) rc = 0;
    }
    return rc == 0 ? TRUE : platform::FailWithErrno(errno);
}

WINBASEAPI BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
    PLATFORM_TRACE("DeleteFileW(%s)", platform::ToUtf8(lpFileName).c_str());
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string path = platform::PosixPath(lpFileName);
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        SetLastError(platform::OpenErrorFor(errno, path));
        return FALSE;
    }
    if (S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (platform::DeleteConflicts(platform::FileId{st.st_dev, st.st_ino})) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if (::unlink(path.c_str()) != 0) {
        SetLastError(platform::OpenErrorFor(errno, path));
        return FALSE;
    }
    return TRUE;
}
