// Process-wide state of the port transport, shared by every control in the
// process and unlocked (each control runs on its own apartment thread, and
// the state is touched only at job start, write and close): the port
// library and its users, and the KTSB link.
#pragma once

#include "plugins/farsend/farsend.h"
#include "win/types.h"

namespace port {

// The port library while it is loaded, else the built-in substitutes
// (open -1, send 0, close nothing) with a module handle of 0.
struct PortLibrary {
    HMODULE hModule;
    PFN_PRINTEROPEN pfnOpen;
    PFN_PRINTERSEND pfnSend;
    PFN_PRINTERCLOSE pfnClose;
    // Channels of controls that are open through the library: while there
    // are any, closing some other job does not unload it.
    LONG lUsers;
};

extern PortLibrary g_portLib;

// Puts the substitutes in place and the module handle to 0.
void InstallSubstitutes();

// The KTSB link (mode flag, "LPT9:" handle, device registration).
extern BYTE g_bKtsbMode;
extern HANDLE g_hKtsbPort;
extern HANDLE g_hKtsbRegistration;

// Handles travel as 32-bit values (m_hPort); these convert without losing -1.
inline HANDLE ToHandle(LONG h) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(h)); }
inline LONG FromHandle(HANDLE h) { return static_cast<LONG>(reinterpret_cast<intptr_t>(h)); }

}  // namespace port
