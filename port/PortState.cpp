#include "port/PortState.h"

namespace port {
namespace {

LONG SubstituteOpen(const WCHAR*) { return -1; }
BOOL SubstituteSend(LONG, const BYTE*, DWORD) { return 0; }
void SubstituteClose(LONG) {}

}  // namespace

PortLibrary g_portLib = {nullptr, SubstituteOpen, SubstituteSend, SubstituteClose, 0};

void InstallSubstitutes() {
    g_portLib.hModule = nullptr;
    g_portLib.pfnOpen = SubstituteOpen;
    g_portLib.pfnSend = SubstituteSend;
    g_portLib.pfnClose = SubstituteClose;
}

BYTE g_bKtsbMode = 0;
HANDLE g_hKtsbPort = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
HANDLE g_hKtsbRegistration = nullptr;

}  // namespace port
