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


int WsaErrorFromErrno(int err) {
    switch (err) {
        case 0: return 0;
        case EINTR: return 10004;          // WSAEINTR
        case EBADF:
        case ENOTSOCK: return 10038;       // WSAENOTSOCK
        case EACCES:
        case EPERM: return 10013;          // WSAEACCES
        case EFAULT: return 10014;         // WSAEFAULT
        case EINVAL: return 10022;         // WSAEINVAL
        case EMFILE:
        case ENFILE: return 10024;         // WSAEMFILE
        case EAGAIN: return 10060;         // WSAETIMEDOUT: only timed calls block briefly
        case EINPROGRESS: return 10036;    // WSAEINPROGRESS
        case EALREADY: return 10037;       // WSAEALREADY
        case EMSGSIZE: return 10040;       // WSAEMSGSIZE
        case ENOPROTOOPT: return 10042;    // WSAENOPROTOOPT
        case EPROTONOSUPPORT: return 10043;
        case ESOCKTNOSUPPORT: return 10044;
        case EOPNOTSUPP: return 10045;     // WSAEOPNOTSUPP
        case EAFNOSUPPORT: return 10047;   // WSAEAFNOSUPPORT
        case EADDRINUSE: return 10048;
        case EADDRNOTAVAIL: return 10049;
        case ENETDOWN: return 10050;
        case ENETUNREACH: return 10051;
        case ECONNABORTED: return 10053;
        case EPIPE:
        case ECONNRESET: return 10054;     // WSAECONNRESET
        case ENOBUFS:
        case ENOMEM: return 10055;         // WSAENOBUFS
        case EISCONN: return 10056;
        case ENOTCONN: return 10057;
        case ESHUTDOWN: return 10058;
        case ETIMEDOUT: return 10060;      // WSAETIMEDOUT
        case ECONNREFUSED:
        case ENOENT: return 10061;         // WSAECONNREFUSED: nobody listens there
        case ENAMETOOLONG: return 10063;
        case EHOSTDOWN: return 10064;
        case EHOSTUNREACH: return 10065;
        default: return 10050;             // WSAENETDOWN
    }
}

}  // namespace platform
