#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "control/Pressel.h"

namespace {

constexpr LONG kSentinel = 0x5A5A5A5A;

IPressel* NewPressel() {
    IPressel* p = nullptr;
    EXPECT_EQ(CPressel::CreateInstance(IID_IPressel, reinterpret_cast<void**>(&p)), S_OK);
    return p;
}

TEST(Pressel, NewInstanceIsIdle) {
    IPressel* p = NewPressel();
    ASSERT_NE(p, nullptr);
    struct Case {
        HRESULT (STDMETHODCALLTYPE IPressel::*get)(LONG*);
        LONG expected;
    };
    const Case cases[] = {
        {&IPressel::get_PageNo, 1},        {&IPressel::get_LineNo, 0},
        {&IPressel::get_PrinterDC, -1},    {&IPressel::get_LastError, 0},
        {&IPressel::get_ErrorMethodID, 0}, {&IPressel::get_ErrorReturnState, 0},
    };
    for (const Case& c : cases) {
        LONG v = kSentinel;
        EXPECT_EQ((p->*c.get)(&v), S_OK);
        EXPECT_EQ(v, c.expected);
        EXPECT_EQ((p->*c.get)(nullptr), E_POINTER);
    }
    VARIANT_BOOL printing = 0x5A5A;
    EXPECT_EQ(p->get_StillPrinting(&printing), S_OK);
    EXPECT_EQ(printing, VARIANT_FALSE);
    EXPECT_EQ(p->get_StillPrinting(nullptr), E_POINTER);

    auto* c = static_cast<CPressel*>(p);
    for (BSTR s : {c->m_bstrPrinterName, c->m_bstrIniName, c->m_bstrIniFile}) {
        ASSERT_NE(s, nullptr);  // allocated empty, not null
        EXPECT_EQ(SysStringLen(s), 0u);
    }
    EXPECT_EQ(c->m_bUseRegistry, 1);
    EXPECT_EQ(c->m_hAbortDlg, 0);
    EXPECT_EQ(c->m_nInstanceSlot, -1);
    EXPECT_EQ(c->m_pfnAbortProc, nullptr);
    EXPECT_EQ(c->m_lineBuf.m_lLineBufLen, -1);
    BYTE zeros[CLineBuf::kLineBufSize] = {};
    EXPECT_EQ(std::memcmp(c->m_lineBuf.m_abLineBuf, zeros, sizeof zeros), 0);
    p->Release();
}

TEST(Pressel, ErrorReturnStateStoresZeroOrOne) {
    IPressel* p = NewPressel();
    const struct {
        LONG put, get;
    } cases[] = {{5, 1}, {0, 0}, {-1, 1}, {1, 1}, {INT32_MIN, 1}, {0, 0}};
    for (auto c : cases) {
        EXPECT_EQ(p->put_ErrorReturnState(c.put), S_OK);
        LONG v = kSentinel;
        p->get_ErrorReturnState(&v);
        EXPECT_EQ(v, c.get) << c.put;
        EXPECT_EQ(static_cast<CPressel*>(p)->m_bErrorReturnState, c.get);
    }
    p->Release();
}

TEST(Pressel, AnswersItsInterfacesWithOneIdentity) {
    IPressel* p = NewPressel();
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &IID_IPressel}) {
        void* q = nullptr;
        ASSERT_EQ(p->QueryInterface(*iid, &q), S_OK);
        EXPECT_EQ(q, static_cast<void*>(p));
        p->Release();
    }
    for (const IID* iid : {&IID_ISupportErrorInfo, &IID_IErrorInfo, &CLSID_Pressel}) {
        void* q = reinterpret_cast<void*>(1);
        EXPECT_EQ(p->QueryInterface(*iid, &q), E_NOINTERFACE);
        EXPECT_EQ(q, nullptr);
    }
    EXPECT_EQ(p->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(p->AddRef(), 2u);
    EXPECT_EQ(p->Release(), 1u);
    EXPECT_EQ(p->Release(), 0u);
}

// Slot of a virtual member function in its class's virtual table, read from
// the Itanium C++ ABI representation (1 + byte offset).
template <class F>
std::ptrdiff_t Slot(F member) {
    struct {
        std::uintptr_t ptr;
        std::ptrdiff_t adj;
    } rep;
    static_assert(sizeof(F) == sizeof rep);
    std::memcpy(&rep, &member, sizeof rep);
    EXPECT_EQ(rep.ptr % sizeof(void*), 1u) << "not virtual";
    EXPECT_EQ(rep.adj, 0);
    return static_cast<std::ptrdiff_t>((rep.ptr - 1) / sizeof(void*));
}

TEST(Pressel, VirtualTableOrder) {
    const std::ptrdiff_t slots[] = {
        Slot(&IPressel::QueryInterface),     Slot(&IPressel::AddRef),
        Slot(&IPressel::Release),            Slot(&IPressel::GetTypeInfoCount),
        Slot(&IPressel::GetTypeInfo),        Slot(&IPressel::GetIDsOfNames),
        Slot(&IPressel::Invoke),             Slot(&IPressel::Cancel),
        Slot(&IPressel::FontSelect),         Slot(&IPressel::NewLine),
        Slot(&IPressel::FormFeed),           Slot(&IPressel::ActualFormFeed),
        Slot(&IPressel::Finish),             Slot(&IPressel::Bitmap),
        Slot(&IPressel::NoOrphan),           Slot(&IPressel::InvokeEventMessage),
        Slot(&IPressel::InvokeHeaderMsg),    Slot(&IPressel::StartLP),
        Slot(&IPressel::Write),              Slot(&IPressel::WriteBytes),
        Slot(&IPressel::UserAbort),          Slot(&IPressel::get_LastError),
        Slot(&IPressel::get_StillPrinting),  Slot(&IPressel::get_PageNo),
        Slot(&IPressel::get_LineNo),         Slot(&IPressel::get_PrinterDC),
        Slot(&IPressel::get_ErrorMethodID),  Slot(&IPressel::get_ErrorReturnState),
        Slot(&IPressel::put_ErrorReturnState), Slot(&CPressel::SetError),
    };
    for (std::ptrdiff_t i = 0; i < static_cast<std::ptrdiff_t>(std::size(slots)); ++i) EXPECT_EQ(slots[i], i);
}

TEST(Pressel, ReleasedInstanceLeavesTheRegistries) {
    IPressel* a = NewPressel();
    IPressel* b = NewPressel();
    auto* ca = static_cast<CPressel*>(a);
    auto* cb = static_cast<CPressel*>(b);
    // As a job start registers them.
    g_apInstances[0] = cb;
    cb->m_nInstanceSlot = 0;
    g_apInstances[3] = ca;
    ca->m_nInstanceSlot = 3;
    g_pCurrentInstance = ca;
    a->Release();
    EXPECT_EQ(g_apInstances[3], nullptr);
    EXPECT_EQ(g_pCurrentInstance, nullptr);
    EXPECT_EQ(g_apInstances[0], cb);  // others keep their slots
    g_pCurrentInstance = cb;
    b->Release();
    for (CPressel* slot : g_apInstances) EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(g_pCurrentInstance, nullptr);
}

}  // namespace
