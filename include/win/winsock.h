// Winsock calls of the platform layer: enough of Winsock 2.2 for IrDA stream
// sockets (see win/af_irda.h). Errors are Winsock codes in the thread's
// last-error value (WSAGetLastError is GetLastError).
//
// socket, connect, send, recv, setsockopt and getsockopt share their names
// with the C library's POSIX calls but not their types. Exported under those
// names they would replace the C library's for every caller in the process,
// so the library exports them as pressel_ws_<name>, and this header binds the
// usual names to those symbols: code written against these declarations reads
// as it would on the device. A source file uses either this header or the
// POSIX socket headers, never both (as on the device, where they don't mix).
#pragma once

#include "win/errors.h"
#include "win/types.h"

// A SOCKET is the POSIX descriptor of the socket, valid until closesocket;
// a duplicate of it (dup) stays connected after closesocket.
typedef UINT_PTR SOCKET;
#define INVALID_SOCKET ((SOCKET)(~0))
#define SOCKET_ERROR (-1)

typedef unsigned char u_char;
typedef unsigned short u_short;
typedef unsigned int u_int;

struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};
typedef struct sockaddr SOCKADDR, *PSOCKADDR, *LPSOCKADDR;

#define AF_UNSPEC 0
#define AF_INET 2
#define AF_IRDA 22  // the device's value (the desktop's is 26)
#define PF_UNSPEC AF_UNSPEC
#define PF_INET AF_INET
#define PF_IRDA AF_IRDA

#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define SOCK_RAW 3
#define SOCK_SEQPACKET 5

#define SOL_SOCKET 0xFFFF
#define SO_ERROR 0x1007
#define SO_TYPE 0x1008
#define SO_SNDTIMEO 0x1005  // DWORD milliseconds; 0 waits for ever
#define SO_RCVTIMEO 0x1006

#define MSG_OOB 0x1
#define MSG_PEEK 0x2
#define MSG_DONTROUTE 0x4

// Winsock error codes.
#define WSABASEERR 10000
#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEDESTADDRREQ 10039
#define WSAEMSGSIZE 10040
#define WSAEPROTOTYPE 10041
#define WSAENOPROTOOPT 10042
#define WSAEPROTONOSUPPORT 10043
#define WSAESOCKTNOSUPPORT 10044
#define WSAEOPNOTSUPP 10045
#define WSAEPFNOSUPPORT 10046
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAENETRESET 10052
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAESHUTDOWN 10058
#define WSAETOOMANYREFS 10059
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAELOOP 10062
#define WSAENAMETOOLONG 10063
#define WSAEHOSTDOWN 10064
#define WSAEHOSTUNREACH 10065
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSAEDISCON 10101
#define WSAHOST_NOT_FOUND 11001
#define WSATRY_AGAIN 11002
#define WSANO_RECOVERY 11003
#define WSANO_DATA 11004

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

// The 64-bit Windows layout (the pointer before the texts): 408 bytes.
typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
} WSADATA, *LPWSADATA;
static_assert(sizeof(WSADATA) == 408, "WSADATA keeps its Windows x64 size");

#define MAKEWORD(low, high) ((WORD)(((BYTE)(low)) | ((WORD)((BYTE)(high))) << 8))

#define PRESSEL_WS_SYMBOL(name) __asm__("pressel_ws_" #name)

// Counted: every successful WSAStartup needs its WSACleanup. Versions from
// 1.1 to 2.2 are accepted; the socket calls fail with WSANOTINITIALISED
// while the count is 0. Returns 0 or the error code itself.
WINBASEAPI int WINAPI WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
WINBASEAPI int WINAPI WSACleanup(void);
WINBASEAPI int WINAPI WSAGetLastError(void);
WINBASEAPI void WINAPI WSASetLastError(int iError);

// Only AF_IRDA with SOCK_STREAM and protocol 0 is offered; anything else
// fails with WSAEAFNOSUPPORT, WSAESOCKTNOSUPPORT or WSAEPROTONOSUPPORT.
WINBASEAPI SOCKET WINAPI socket(int af, int type, int protocol) PRESSEL_WS_SYMBOL(socket);
WINBASEAPI int WINAPI connect(SOCKET s, const struct sockaddr* name, int namelen) PRESSEL_WS_SYMBOL(connect);
WINBASEAPI int WINAPI send(SOCKET s, const char* buf, int len, int flags) PRESSEL_WS_SYMBOL(send);
WINBASEAPI int WINAPI recv(SOCKET s, char* buf, int len, int flags) PRESSEL_WS_SYMBOL(recv);
WINBASEAPI int WINAPI setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen)
    PRESSEL_WS_SYMBOL(setsockopt);
WINBASEAPI int WINAPI getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen)
    PRESSEL_WS_SYMBOL(getsockopt);
WINBASEAPI int WINAPI closesocket(SOCKET s);
