#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "control/Pressel.h"

namespace {

// One call a sink received, with everything Invoke was given.
struct Call {
    std::string sink;
    DISPID dispid;
    bool iidNull;
    LCID lcid;
    WORD flags;
    UINT cArgs, cNamedArgs;
    bool namedNull, resultNull, excepNull, argErrNull;
    VARTYPE vt0, vt1;
    LONG arg0, arg1;  // rgvarg[0], rgvarg[1]
};

std::vector<Call> g_calls;

class Sink final : public IDispatch {
public:
    explicit Sink(std::string name, bool answersEventIid = true) : name_(std::move(name)), eventIid_(answersEventIid) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || (eventIid_ && riid == DIID__IPresselEvents)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* dp, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override {
        refsDuringCall = refs;
        g_calls.push_back({name_, id, riid == IID_NULL, lcid, flags, dp->cArgs, dp->cNamedArgs,
                           dp->rgdispidNamedArgs == nullptr, result == nullptr, excep == nullptr, argErr == nullptr,
                           dp->rgvarg[0].vt, dp->rgvarg[1].vt, dp->rgvarg[0].lVal, dp->rgvarg[1].lVal});
        // A handler that scribbles over its arguments must not disturb the next sink.
        dp->rgvarg[0].vt = VT_BSTR;
        dp->rgvarg[0].bstrVal = SysAllocString(u"scribble");
        if (auto handler = onInvoke) handler();  // a copy: the handler may replace itself
        return result_;
    }

    ULONG refs = 1;
    ULONG refsDuringCall = 0;
    HRESULT result_ = S_OK;
    std::function<void()> onInvoke;

private:
    std::string name_;
    bool eventIid_;
};

class EventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_calls.clear();
        ASSERT_EQ(CPressel::CreateInstance(IID_IPressel, reinterpret_cast<void**>(&pressel_)), S_OK);
        IConnectionPointContainer* cpc = nullptr;
        ASSERT_EQ(pressel_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)), S_OK);
        ASSERT_EQ(cpc->FindConnectionPoint(DIID__IPresselEvents, &cp_), S_OK);
        cpc->Release();
    }
    void TearDown() override {
        cp_->Release();
        EXPECT_EQ(pressel_->Release(), 0u);
    }

    DWORD Connect(Sink& sink) {
        DWORD cookie = 0;
        EXPECT_EQ(cp_->Advise(&sink, &cookie), S_OK);
        EXPECT_NE(cookie, 0u);
        return cookie;
    }
    std::vector<std::string> Order() const {
        std::vector<std::string> names;
        for (const Call& c : g_calls) names.push_back(c.sink);
        return names;
    }

    IPressel* pressel_ = nullptr;
    IConnectionPoint* cp_ = nullptr;
};

TEST_F(EventsTest, BothSinksInConnectionOrderWithExactDispParams) {
    Sink a("a"), b("b");
    DWORD ca = Connect(a), cb = Connect(b);
    const struct {
        HRESULT (STDMETHODCALLTYPE IPressel::*method)(LONG, LONG);
        LONG first, second;
        DISPID dispid;
    } cases[] = {
        {&IPressel::InvokeEventMessage, 5, 6, DISPID_NotifyMessage},
        {&IPressel::InvokeHeaderMsg, 1, 0, DISPID_HeaderEvent},
        {&IPressel::InvokeEventMessage, 1080, -7, DISPID_NotifyMessage},
    };
    for (auto c : cases) {
        g_calls.clear();
        EXPECT_EQ((pressel_->*c.method)(c.first, c.second), S_OK);
        ASSERT_EQ(Order(), (std::vector<std::string>{"a", "b"}));
        for (const Call& call : g_calls) {
            EXPECT_EQ(call.dispid, c.dispid);
            EXPECT_TRUE(call.iidNull);
            EXPECT_EQ(call.lcid, 0x0400u);
            EXPECT_EQ(call.flags, DISPATCH_METHOD);
            EXPECT_EQ(call.cArgs, 2u);
            EXPECT_EQ(call.cNamedArgs, 0u);
            EXPECT_TRUE(call.namedNull && call.resultNull && call.excepNull && call.argErrNull);
            // Reversed: the first parameter is the last VARIANT.
            EXPECT_EQ(call.vt1, VT_I4);
            EXPECT_EQ(call.arg1, c.first);
            EXPECT_EQ(call.vt0, VT_I4);
            EXPECT_EQ(call.arg0, c.second);
        }
    }
    EXPECT_EQ(a.refsDuringCall, 3u);  // held by us, the connection and the call
    cp_->Unadvise(ca);
    cp_->Unadvise(cb);
    EXPECT_EQ(a.refs, 1u);
    EXPECT_EQ(b.refs, 1u);
}

TEST_F(EventsTest, FailingFirstSinkDoesNotStopTheOthers) {
    Sink a("a"), b("b");
    a.result_ = DISP_E_MEMBERNOTFOUND;
    DWORD ca = Connect(a), cb = Connect(b);
    EXPECT_EQ(pressel_->InvokeEventMessage(1, 2), S_OK);
    EXPECT_EQ(Order(), (std::vector<std::string>{"a", "b"}));
    cp_->Unadvise(ca);
    cp_->Unadvise(cb);
}

TEST_F(EventsTest, DisconnectingInsideAHandler) {
    Sink a("a"), b("b"), c("c"), d("d");
    DWORD ca = Connect(a), cb = Connect(b);
    DWORD cc = 0, cd = 0;
    // a leaves, and connects d; b removes c, which comes after it.
    a.onInvoke = [&] {
        EXPECT_EQ(cp_->Unadvise(ca), S_OK);
        cd = Connect(d);
        a.onInvoke = nullptr;
    };
    b.onInvoke = [&] {
        EXPECT_EQ(cp_->Unadvise(cc), S_OK);
        b.onInvoke = nullptr;
    };
    cc = Connect(c);
    pressel_->InvokeEventMessage(2, 0);
    EXPECT_EQ(Order(), (std::vector<std::string>{"a", "b"}));  // c emptied, d waits
    EXPECT_EQ(a.refs, 1u);
    g_calls.clear();
    pressel_->InvokeEventMessage(2, 0);
    EXPECT_EQ(Order(), (std::vector<std::string>{"b", "d"}));
    // Cookies stay with their connections.
    EXPECT_EQ(cp_->Unadvise(ca), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(cp_->Unadvise(cb), S_OK);
    EXPECT_EQ(cp_->Unadvise(cd), S_OK);
    EXPECT_EQ(b.refs + c.refs + d.refs, 3u);
}

TEST_F(EventsTest, NoSinkStillSucceedsAndResetsTheError) {
    auto* control = static_cast<CPressel*>(pressel_);
    pressel_->put_ErrorReturnState(1);
    for (auto method : {&IPressel::InvokeEventMessage, &IPressel::InvokeHeaderMsg}) {
        control->SetError(static_cast<HRESULT>(0x80040D04), u"CPressel::No printer DC..", 11);
        EXPECT_EQ((pressel_->*method)(5, 6), S_OK);
        LONG last = -1, method_id = -1;
        pressel_->get_LastError(&last);
        pressel_->get_ErrorMethodID(&method_id);
        EXPECT_EQ(last, 0);
        EXPECT_EQ(method_id, 0);
    }
    EXPECT_TRUE(g_calls.empty());
    SetErrorInfo(0, nullptr);
}

TEST_F(EventsTest, HandlerSeesTheStateAndMayCallBack) {
    Sink a("a");
    DWORD ca = Connect(a);
    auto* control = static_cast<CPressel*>(pressel_);
    control->m_bPrinting = 0;
    VARIANT_BOOL seen = VARIANT_TRUE;
    a.onInvoke = [&] {
        pressel_->get_StillPrinting(&seen);
        a.onInvoke = nullptr;
        pressel_->InvokeHeaderMsg(1, 0);  // nested event, same sink
    };
    pressel_->InvokeEventMessage(1, 2);
    EXPECT_EQ(seen, VARIANT_FALSE);
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[1].dispid, DISPID_HeaderEvent);
    cp_->Unadvise(ca);
}

TEST_F(EventsTest, ConnectionPointPlumbing) {
    IID iid{};
    EXPECT_EQ(cp_->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(iid == DIID__IPresselEvents);

    IConnectionPointContainer* cpc = nullptr;
    ASSERT_EQ(cp_->GetConnectionPointContainer(&cpc), S_OK);
    IUnknown *fromCpc = nullptr, *fromPressel = nullptr;
    cpc->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromCpc));
    pressel_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromPressel));
    EXPECT_EQ(fromCpc, fromPressel);  // one object identity
    fromCpc->Release();
    fromPressel->Release();

    IConnectionPoint* other = reinterpret_cast<IConnectionPoint*>(1);
    EXPECT_EQ(cpc->FindConnectionPoint(IID_IDispatch, &other), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(other, nullptr);

    IEnumConnectionPoints* points = nullptr;
    ASSERT_EQ(cpc->EnumConnectionPoints(&points), S_OK);
    IConnectionPoint* got[2] = {};
    ULONG fetched = 9;
    EXPECT_EQ(points->Next(2, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(got[0], cp_);
    got[0]->Release();
    points->Release();
    cpc->Release();
}

TEST_F(EventsTest, AdviseRefusalsAndEnumeration) {
    class NotDispatch final : public IUnknown {
    public:
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
            *ppv = riid == IID_IUnknown ? this : nullptr;
            return *ppv ? S_OK : E_NOINTERFACE;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return 2; }
        STDMETHODIMP_(ULONG) Release() override { return 1; }
    } plain;
    DWORD cookie = 0xDEADBEEF;
    EXPECT_EQ(cp_->Advise(&plain, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(cp_->Advise(nullptr, &cookie), E_POINTER);
    EXPECT_EQ(cp_->Unadvise(12345), CONNECT_E_NOCONNECTION);

    Sink a("a"), b("b", /*answersEventIid=*/false), c("c");
    DWORD ca = Connect(a), cb = Connect(b), cc = Connect(c);  // plain IDispatch is accepted too
    EXPECT_EQ(cp_->Unadvise(cb), S_OK);
    IEnumConnections* e = nullptr;
    ASSERT_EQ(cp_->EnumConnections(&e), S_OK);
    CONNECTDATA cd[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(3, cd, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(cd[0].dwCookie, ca);
    EXPECT_EQ(cd[1].dwCookie, cc);
    EXPECT_EQ(cd[1].pUnk, static_cast<IUnknown*>(&c));
    for (ULONG i = 0; i < fetched; ++i) cd[i].pUnk->Release();
    IEnumConnections* clone = nullptr;
    e->Reset();
    EXPECT_EQ(e->Skip(1), S_OK);
    ASSERT_EQ(e->Clone(&clone), S_OK);
    EXPECT_EQ(clone->Next(1, cd, nullptr), S_OK);
    EXPECT_EQ(cd[0].dwCookie, cc);
    cd[0].pUnk->Release();
    clone->Release();
    e->Release();
    EXPECT_EQ(a.refs, 2u);  // the enumerators gave theirs back
    cp_->Unadvise(ca);
    cp_->Unadvise(cc);
}

TEST(Events, ReleasingTheControlDisconnectsItsSinks) {
    Sink a("a");
    IConnectionPointContainer* direct = nullptr;
    ASSERT_EQ(CPressel::CreateInstance(IID_IConnectionPointContainer, reinterpret_cast<void**>(&direct)), S_OK);
    EXPECT_EQ(direct->Release(), 0u);
    IPressel* p = nullptr;
    ASSERT_EQ(CPressel::CreateInstance(IID_IPressel, reinterpret_cast<void**>(&p)), S_OK);
    IConnectionPointContainer* cpc = nullptr;
    p->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc));
    IConnectionPoint* cp = nullptr;
    cpc->FindConnectionPoint(DIID__IPresselEvents, &cp);
    DWORD cookie = 0;
    cp->Advise(&a, &cookie);
    EXPECT_EQ(a.refs, 2u);
    cp->Release();
    cpc->Release();
    EXPECT_EQ(p->Release(), 0u);
    EXPECT_EQ(a.refs, 1u);
}

}  // namespace
