// Module-wide registries of control instances.
#include "control/Pressel.h"

CPressel* g_apInstances[kMaxInstances] = {};
CPressel* g_pCurrentInstance = nullptr;

void ForgetInstance(CPressel* pInstance) {
    // Every slot, not only m_nInstanceSlot: a stale pointer here would be
    // used by the abort procedure after the object is gone.
    for (CPressel*& slot : g_apInstances)
        if (slot == pInstance) slot = nullptr;
    pInstance->m_nInstanceSlot = -1;
    if (g_pCurrentInstance == pInstance) g_pCurrentInstance = nullptr;
}
