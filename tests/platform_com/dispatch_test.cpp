// IDispatch of the test server, which forwards to its registered type info:
// names, argument order, coercion, by-reference arguments, failures.
#include <gtest/gtest.h>

#include <vector>

#include "server_fixture.h"

namespace {

VARIANT I4(LONG v) {
    VARIANT r;
    VariantInit(&r);
    r.vt = VT_I4;
    r.lVal = v;
    return r;
}
VARIANT I2(SHORT v) {
    VARIANT r = I4(0);
    r.vt = VT_I2;
    r.iVal = v;
    return r;
}
VARIANT R8(double v) {
    VARIANT r = I4(0);
    r.vt = VT_R8;
    r.dblVal = v;
    return r;
}
VARIANT Str(const char16_t* s) {
    VARIANT r = I4(0);
    r.vt = VT_BSTR;
    r.bstrVal = SysAllocString(s);
    return r;
}
VARIANT Missing() {
    VARIANT r = I4(0);
    r.vt = VT_ERROR;
    r.scode = DISP_E_PARAMNOTFOUND;
    return r;
}

class DispatchTest : public RegisteredServer {
protected:
    void SetUp() override {
        RegisteredServer::SetUp();
        CLSID clsid;
        ASSERT_EQ(CLSIDFromProgID(u"Test.Calc", &clsid), S_OK);
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(&dispatch_)),
                  S_OK);
    }
    void TearDown() override {
        if (dispatch_) dispatch_->Release();
        for (VARIANT& v : args_) VariantClear(&v);
        RegisteredServer::TearDown();
    }

    // Arguments in declaration order; DISPPARAMS gets them reversed.
    HRESULT Call(DISPID id, WORD flags, std::vector<VARIANT> args, VARIANT* result = nullptr,
                 UINT* argErr = nullptr, EXCEPINFO* excep = nullptr, std::vector<DISPID> named = {}) {
        for (VARIANT& v : args_) VariantClear(&v);
        args_.assign(args.rbegin(), args.rend());
        DISPPARAMS params = {args_.data(), named.data(), static_cast<UINT>(args_.size()),
                             static_cast<UINT>(named.size())};
        return dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, excep, argErr);
    }

    IDispatch* dispatch_ = nullptr;
    std::vector<VARIANT> args_;
};

TEST_F(DispatchTest, NamesIgnoreCaseAndIncludeParameters) {
    struct Case {
        std::vector<const char16_t*> names;
        HRESULT expected;
        std::vector<DISPID> ids;
    } cases[] = {
        {{u"add"}, S_OK, {1}},
        {{u"VALUE"}, S_OK, {3}},
        {{u"Describe", u"S", u"n"}, S_OK, {6, 1, 0}},
        {{u"Sum8", u"a8", u"nothing"}, DISP_E_UNKNOWNNAME, {8, 7, DISPID_UNKNOWN}},
        {{u"Subtract", u"a"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN, DISPID_UNKNOWN}},
    };
    for (const Case& c : cases) {
        std::vector<DISPID> ids(c.names.size(), 12345);
        EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(c.names.data()),
                                           static_cast<UINT>(c.names.size()), LOCALE_USER_DEFAULT, ids.data()),
                  c.expected);
        EXPECT_EQ(ids, c.ids) << static_cast<const void*>(c.names[0]);
    }
}

TEST_F(DispatchTest, MethodsPropertiesAndArgumentOrder) {
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(Call(1, DISPATCH_METHOD, {I4(40), I4(2)}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 42);

    ASSERT_EQ(Call(2, DISPATCH_METHOD, {Str(u"ab"), Str(u"cd")}, &result), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(Narrow(result.bstrVal), "abcd");
    VariantClear(&result);

    // Weighted sum: a shuffled or shifted argument shows.
    ASSERT_EQ(Call(8, DISPATCH_METHOD, {I4(1), I4(2), I4(3), I4(4), I4(5), I4(6), I4(7), I4(8)}, &result), S_OK);
    EXPECT_EQ(result.lVal, 204);

    ASSERT_EQ(Call(3, DISPATCH_PROPERTYPUT, {I4(7)}, nullptr, nullptr, nullptr, {DISPID_PROPERTYPUT}), S_OK);
    ASSERT_EQ(Call(3, DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 7);
    ASSERT_EQ(Call(3, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.lVal, 7);
    // A method with a return value answers a property get.
    ASSERT_EQ(Call(1, DISPATCH_PROPERTYGET, {I4(1), I4(1)}, &result), S_OK);
    EXPECT_EQ(result.lVal, 2);
    // A named argument by its position.
    ASSERT_EQ(Call(1, DISPATCH_METHOD, {I4(100), I4(5)}, &result, nullptr, nullptr, {1}), S_OK);
    EXPECT_EQ(result.lVal, 105);
    // No result wanted: nothing leaks, nothing is written.
    EXPECT_EQ(Call(2, DISPATCH_METHOD, {Str(u"x"), Str(u"y")}), S_OK);
}

TEST_F(DispatchTest, ArgumentsAreCoercedToTheParameterTypes) {
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(Call(1, DISPATCH_METHOD, {I2(5), Str(u"12")}, &result), S_OK);
    EXPECT_EQ(result.lVal, 17);
    ASSERT_EQ(Call(1, DISPATCH_METHOD, {R8(2.5), R8(-1.5)}, &result), S_OK);  // halves round to even
    EXPECT_EQ(result.lVal, 0);
    ASSERT_EQ(Call(6, DISPATCH_METHOD, {Str(u"3"), I4(99), I4(1), I4(-4)}, &result), S_OK);
    EXPECT_EQ(Narrow(result.bstrVal), "3|99|-1|-4");
    VariantClear(&result);
    // A by-reference argument is read through.
    LONG forty = 40;
    VARIANT byref = I4(0);
    byref.vt = VT_BYREF | VT_I4;
    byref.plVal = &forty;
    ASSERT_EQ(Call(1, DISPATCH_METHOD, {byref, I4(2)}, &result), S_OK);
    EXPECT_EQ(result.lVal, 42);
}

TEST_F(DispatchTest, ByReferenceParametersReachTheCallersStorage) {
    LONG a = 1, b = 2;
    VARIANT ra = I4(0), rb = I4(0);
    ra.vt = rb.vt = VT_BYREF | VT_I4;
    ra.plVal = &a;
    rb.plVal = &b;
    ASSERT_EQ(Call(5, DISPATCH_METHOD, {ra, rb}), S_OK);
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 1);
    UINT argErr = 99;
    SHORT small = 3;
    VARIANT wrong = I4(0);
    wrong.vt = VT_BYREF | VT_I2;
    wrong.piVal = &small;
    EXPECT_EQ(Call(5, DISPATCH_METHOD, {ra, wrong}, nullptr, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    EXPECT_EQ(Call(5, DISPATCH_METHOD, {I4(1), rb}, nullptr, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 1u);
}

TEST_F(DispatchTest, FailuresOfTheCall) {
    struct Case {
        DISPID id;
        WORD flags;
        std::vector<VARIANT> args;
        HRESULT expected;
        UINT argErr;  // 99: not set
    };
    std::vector<Case> cases;
    cases.push_back({1, DISPATCH_METHOD, {I4(1)}, DISP_E_PARAMNOTOPTIONAL, 99});
    cases.push_back({1, DISPATCH_METHOD, {I4(1), Missing()}, DISP_E_PARAMNOTOPTIONAL, 99});
    cases.push_back({1, DISPATCH_METHOD, {I4(1), I4(2), I4(3)}, DISP_E_BADPARAMCOUNT, 99});
    cases.push_back({1, DISPATCH_METHOD, {Str(u"abc"), I4(2)}, DISP_E_TYPEMISMATCH, 1});
    cases.push_back({1, DISPATCH_METHOD, {I4(2), Str(u"abc")}, DISP_E_TYPEMISMATCH, 0});
    cases.push_back({1, DISPATCH_METHOD, {R8(1e20), I4(2)}, DISP_E_OVERFLOW, 1});
    cases.push_back({99, DISPATCH_METHOD, {}, DISP_E_MEMBERNOTFOUND, 99});
    cases.push_back({1, DISPATCH_PROPERTYPUT, {I4(1)}, DISP_E_MEMBERNOTFOUND, 99});
    cases.push_back({9, DISPATCH_PROPERTYGET, {}, DISP_E_MEMBERNOTFOUND, 99});  // no retval
    cases.push_back({7, DISPATCH_METHOD, {R8(1.0)}, DISP_E_BADVARTYPE, 99});
    for (Case& c : cases) {
        UINT argErr = 99;
        VARIANT result = I4(-7);
        EXPECT_EQ(Call(c.id, c.flags, c.args, &result, &argErr), c.expected) << c.id;
        EXPECT_EQ(argErr, c.argErr) << c.id;
        EXPECT_EQ(result.lVal, -7) << c.id;
    }
}

TEST_F(DispatchTest, FailingMemberFillsExcepInfoFromTheErrorObject) {
    EXCEPINFO excep;
    std::memset(&excep, 0xAA, sizeof excep);
    ASSERT_EQ(Call(4, DISPATCH_METHOD, {I4(5)}, nullptr, nullptr, &excep), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, kCalcFailure);
    EXPECT_EQ(Narrow(excep.bstrSource), "TestCalc");
    EXPECT_EQ(Narrow(excep.bstrDescription), "Calc failed on purpose");
    EXPECT_EQ(excep.bstrHelpFile, nullptr);
    EXPECT_EQ(excep.dwHelpContext, 5u);
    EXPECT_EQ(excep.wCode, 0);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    // The error object was handed over: the next failure without one has only its code.
    ICreateErrorInfo* none = nullptr;
    EXPECT_EQ(GetErrorInfo(0, reinterpret_cast<IErrorInfo**>(&none)), S_FALSE);
    EXPECT_EQ(Call(4, DISPATCH_METHOD, {I4(5)}), DISP_E_EXCEPTION);
}

// A sink of the event interface: what an event source sees through the type info.
class Sink final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        seen = id;
        seenFlags = flags;
        count = params->cArgs == 2 ? params->rgvarg[1].lVal : -1;
        label = params->cArgs == 2 ? Narrow(params->rgvarg[0].bstrVal) : "";
        return S_OK;
    }
    DISPID seen = 0;
    WORD seenFlags = 0;
    LONG count = 0;
    std::string label;
};

TEST_F(DispatchTest, DispinterfaceInvokeGoesToTheSinksDispatch) {
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_TestCalcLib, 1, 0, 0, &lib), S_OK);
    ITypeInfo* events = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(DIID_ITestCalcEvents, &events), S_OK);
    lib->Release();
    Sink sink;
    VARIANT args[2] = {Str(u"tick"), I4(3)};
    DISPPARAMS params = {args, nullptr, 2, 0};
    EXPECT_EQ(DispInvoke(&sink, events, 1, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(sink.seen, 1);
    EXPECT_EQ(sink.seenFlags, DISPATCH_METHOD);
    EXPECT_EQ(sink.count, 3);
    EXPECT_EQ(sink.label, "tick");
    EXPECT_EQ(DispInvoke(&sink, events, 2, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    VariantClear(&args[0]);
    events->Release();
}

// A dispatch that forwards to the dispinterface's type info, which forwards back.
class LoopSink final : public IDispatch {
public:
    explicit LoopSink(ITypeInfo* info) : info_(info) {}
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                        UINT* argErr) override {
        ++calls;
        return DispInvoke(this, info_, id, flags, params, result, excep, argErr);
    }
    int calls = 0;

private:
    ITypeInfo* info_;
};

TEST_F(DispatchTest, ForwardingLoopEndsWithAnError) {
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_TestCalcLib, 1, 0, 0, &lib), S_OK);
    ITypeInfo* events = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(DIID_ITestCalcEvents, &events), S_OK);
    lib->Release();
    LoopSink sink(events);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(DispInvoke(&sink, events, 1, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), DISP_E_BADCALLEE);
    EXPECT_EQ(sink.calls, 64);
    events->Release();
}

}  // namespace
