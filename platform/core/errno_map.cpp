#include "core/errno_map.h"

#include <cerrno>

#include "win/base.h"

namespace platform {

DWORD Win32ErrorFromErrno(int err) {
    switch (err) {
        case 0: return ERROR_SUCCESS;
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS: return ERROR_ACCESS_DENIED;
        case EEXIST: return ERROR_FILE_EXISTS;
        case EBADF: return ERROR_INVALID_HANDLE;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        case EMFILE:
        case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
        case ENOSPC: return ERROR_DISK_FULL;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case EISDIR: return ERROR_DIRECTORY;
        case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
        case EBUSY: return ERROR_BUSY;
        case EAGAIN: return ERROR_LOCK_VIOLATION;
        case EPIPE: return ERROR_BROKEN_PIPE;
        case ENXIO:
        case ENODEV: return ERROR_DEV_NOT_EXIST;
        case ETIMEDOUT: return ERROR_TIMEOUT;
        case EINTR: return ERROR_OPERATION_ABORTED;
        case ENOTSUP: return ERROR_NOT_SUPPORTED;
        case ENOTTY: return ERROR_INVALID_FUNCTION;
        case ECONNREFUSED:
        case ECONNRESET:
        case ENOTCONN: return ERROR_DEVICE_NOT_CONNECTED;
        case EIO:
        default: return ERROR_GEN_FAILURE;
    }
}

BOOL FailWithErrno(int err) {
    SetLastError(Win32ErrorFromErrno(err));
    return FALSE;
}

}  // namespace platform
