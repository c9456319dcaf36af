// IrDA sockets: addresses, socket options and the device list, with the
// device's layouts.
//
// Where the kernel has no IrDA stack (nearly every Linux kernel now), the
// platform layer emulates an IrDA neighbourhood with Unix-domain sockets in
// a directory: the registry value "EmulationDir" (REG_SZ) under
// HKEY_LOCAL_MACHINE\Comm\IrDA, else $XDG_RUNTIME_DIR/pressel-irda, else
// /tmp/pressel-irda-<uid>. Every listening socket there named
//     <id>.<name>.<service>
// is one service of a device in range: <id> is the 4-byte device identifier
// as 8 hex digits (irdaDeviceID[0] first), <name> the device name with '%',
// '.', '/' and bytes outside '!'..'~' written as %XX (at most 21 bytes once
// decoded), <service> the service name as given to connect (e.g.
// "LSAP-SEL002"). A device lists once, whatever the number of its services.
// Services named "LSAP-SEL..." speak IrLMP directly: only sockets in IrLPT
// mode reach them, and devices offering one carry the printer hint bit.
// Other services are TinyTP services, which IrLPT-mode sockets cannot reach.
// The DWORD "KernelIrDA" under the same key set to 0 keeps the emulation
// even when the kernel has AF_IRDA.
#pragma once

#include "win/winsock.h"

#define SOL_IRLMP 0xFF

#define IRLMP_ENUMDEVICES 0x10
#define IRLMP_IAS_SET 0x11
#define IRLMP_IAS_QUERY 0x12
#define IRLMP_SEND_PDU_LEN 0x13  // get: the most one send takes in IrLPT mode
#define IRLMP_EXCLUSIVE_MODE 0x14
#define IRLMP_IRLPT_MODE 0x15
#define IRLMP_9WIRE_MODE 0x16

// Hint bits of a device entry.
#define LM_HB1_PnP 0x01
#define LM_HB1_PDA_Palmtop 0x02
#define LM_HB1_Computer 0x04
#define LM_HB1_Printer 0x08
#define LM_HB1_Modem 0x10
#define LM_HB1_Fax 0x20
#define LM_HB1_LANAccess 0x40
#define LM_HB_Extension 0x80

typedef struct _SOCKADDR_IRDA {
    u_short irdaAddressFamily;
    u_char irdaDeviceID[4];
    char irdaServiceName[25];
} SOCKADDR_IRDA, *PSOCKADDR_IRDA, *LPSOCKADDR_IRDA;

// The device's 28-byte entry; its last two bytes carry the hint bits.
typedef struct _IRDA_DEVICE_INFO {
    u_char irdaDeviceID[4];
    char irdaDeviceName[22];
    u_char irdaDeviceHints1;
    u_char irdaDeviceHints2;
} IRDA_DEVICE_INFO, *PIRDA_DEVICE_INFO;

// getsockopt(SOL_IRLMP, IRLMP_ENUMDEVICES) fills as many entries as the
// buffer holds, sets numDevice to that number and the length to the bytes
// used; a buffer of sizeof(DEVICELIST) holds one device.
typedef struct _DEVICELIST {
    ULONG numDevice;
    IRDA_DEVICE_INFO Device[1];
} DEVICELIST, *PDEVICELIST;

static_assert(sizeof(SOCKADDR_IRDA) == 32, "SOCKADDR_IRDA keeps its size");
static_assert(sizeof(IRDA_DEVICE_INFO) == 28, "IRDA_DEVICE_INFO keeps its size");
static_assert(sizeof(DEVICELIST) == 32, "DEVICELIST keeps its size");
