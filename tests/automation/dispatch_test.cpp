// The control through IDispatch only: names, every member through Invoke,
// events on two sinks, the error object of a failing StartLP and the
// ErrorReturnState switch as an automation client sees them.
#include "automation_fixture.h"

namespace automation_test {
namespace {

using DispatchTest = AutomationFixture;

TEST_F(DispatchTest, NamesGiveTheirDispids) {
    IDispatch* disp = Create();
    ASSERT_NE(disp, nullptr);
    UINT count = 0;
    EXPECT_EQ(disp->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    const struct {
        const char16_t* name;
        DISPID id;
    } members[] = {{u"Cancel", 1},          {u"FontSelect", 2},          {u"NewLine", 3},
                   {u"FormFeed", 4},        {u"ActualFormFeed", 5},      {u"Finish", 6},
                   {u"Bitmap", 7},          {u"NoOrphan", 8},            {u"InvokeEventMessage", 9},
                   {u"InvokeHeaderMsg", 10}, {u"StartLP", 11},           {u"Write", 12},
                   {u"WriteBytes", 13},     {u"UserAbort", 14},          {u"LastError", 15},
                   {u"StillPrinting", 16},  {u"PageNo", 17},             {u"LineNo", 18},
                   {u"PrinterDC", 19},      {u"ErrorMethodID", 20},      {u"ErrorReturnState", 21},
                   {u"errorreturnstate", 21}, {u"BITMAP", 7}};
    for (const auto& m : members) EXPECT_EQ(Id(disp, m.name), m.id) << Narrow(m.name);

    // Parameter names follow the member name.
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"Bitmap"), const_cast<LPOLESTR>(u"_bsFilename"),
                        const_cast<LPOLESTR>(u"_dwStartCol")};
    DISPID ids[3] = {};
    ASSERT_EQ(disp->GetIDsOfNames(IID_NULL, names, 3, LOCALE_USER_DEFAULT, ids), S_OK);
    EXPECT_EQ(ids[0], 7);
    EXPECT_EQ(ids[1], 3);
    EXPECT_EQ(ids[2], 0);

    LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"SetError")};  // not part of the type library
    DISPID id = 0;
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);

    ITypeInfo* info = nullptr;
    ASSERT_EQ(disp->GetTypeInfo(0, 0, &info), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(attr->guid == IID_IPressel);
    info->ReleaseTypeAttr(attr);
    info->Release();
    EXPECT_EQ(disp->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    disp->Release();
}

TEST_F(DispatchTest, PropertiesOfANewControlAndThePut) {
    IDispatch* disp = Create();
    ASSERT_NE(disp, nullptr);
    const struct {
        const char16_t* name;
        LONG value;
    } initial[] = {{u"LastError", 0}, {u"StillPrinting", VARIANT_FALSE}, {u"PageNo", 1}, {u"LineNo", 0},
                   {u"PrinterDC", -1}, {u"ErrorMethodID", 0}, {u"ErrorReturnState", 0}};
    for (const auto& p : initial) EXPECT_EQ(Get(disp, p.name), p.value) << Narrow(p.name);

    VARIANT r;
    VariantInit(&r);
    ASSERT_EQ(Call(disp, u"StillPrinting", DISPATCH_PROPERTYGET, {}, &r), S_OK);
    EXPECT_EQ(r.vt, VT_BOOL);

    for (const auto& [put, read] : {std::pair<LONG, LONG>{5, 1}, {0, 0}, {-1, 1}, {1, 1}}) {
        ASSERT_EQ(Call(disp, u"ErrorReturnState", DISPATCH_PROPERTYPUT, {I4(put)}), S_OK);
        EXPECT_EQ(Get(disp, u"ErrorReturnState"), read) << put;
    }
    // Arguments are coerced to the parameter's type.
    ASSERT_EQ(Call(disp, u"ErrorReturnState", DISPATCH_PROPERTYPUT, {Str("0")}), S_OK);
    EXPECT_EQ(Get(disp, u"ErrorReturnState"), 0);
    EXPECT_EQ(Call(disp, u"PageNo", DISPATCH_PROPERTYPUT, {I4(3)}), DISP_E_MEMBERNOTFOUND);
    disp->Release();
}

TEST_F(DispatchTest, EveryMethodWithoutAJobSucceedsAndClearsTheError) {
    IDispatch* disp = Create();
    ASSERT_NE(disp, nullptr);
    const struct {
        const char16_t* name;
        std::vector<LONG> longs;
        bool text;
    } methods[] = {{u"Cancel", {}, false},        {u"FontSelect", {1, 2, 3}, false}, {u"NewLine", {}, false},
                   {u"FormFeed", {}, false},      {u"ActualFormFeed", {}, false},    {u"Finish", {}, false},
                   {u"NoOrphan", {3, 1}, false},  {u"Write", {}, true},              {u"UserAbort", {}, false}};
    for (const auto& m : methods) {
        std::vector<VARIANT> args;
        if (m.text) args.push_back(Str("abc"));
        for (LONG l : m.longs) args.push_back(I4(l));
        EXPECT_EQ(Call(disp, m.name, DISPATCH_METHOD, args), S_OK) << Narrow(m.name);
        EXPECT_EQ(Get(disp, u"LastError"), 0) << Narrow(m.name);
    }
    EXPECT_EQ(Call(disp, u"WriteBytes", DISPATCH_METHOD, {Str("ab"), I4(2)}), S_OK);
    EXPECT_EQ(Call(disp, u"Bitmap", DISPATCH_METHOD, {I4(0), I4(1), I4(1), Str("x.bmp")}), S_OK);
    EXPECT_EQ(Call(disp, u"FontSelect", DISPATCH_METHOD, {I4(1)}), DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(Get(disp, u"StillPrinting"), VARIANT_FALSE);
    disp->Release();
}

TEST_F(DispatchTest, EventsReachTwoSinksInConnectionOrder) {
    IDispatch* disp = Create();
    ASSERT_NE(disp, nullptr);
    std::vector<Event> log;
    Sink failing(1, &log, E_FAIL), second(2, &log);
    IConnectionPoint* cp = EventsPoint(disp);
    ASSERT_NE(cp, nullptr);
    DWORD c1 = 0, c2 = 0;
    ASSERT_EQ(cp->Advise(&failing, &c1), S_OK);
    ASSERT_EQ(cp->Advise(&second, &c2), S_OK);

    EXPECT_EQ(Call(disp, u"InvokeEventMessage", DISPATCH_METHOD, {I4(5), I4(6)}), S_OK);
    EXPECT_EQ(Call(disp, u"InvokeHeaderMsg", DISPATCH_METHOD, {I4(1), I4(0)}), S_OK);
    EXPECT_EQ(log, (std::vector<Event>{{1, DISPID_NotifyMessage, 5, 6},
                                       {2, DISPID_NotifyMessage, 5, 6},
                                       {1, DISPID_HeaderEvent, 1, 0},
                                       {2, DISPID_HeaderEvent, 1, 0}}));
    EXPECT_EQ(Get(disp, u"LastError"), 0);

    // The default source interface the control names is the one it fires.
    IProvideClassInfo2* classInfo = nullptr;
    ASSERT_EQ(disp->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&classInfo)), S_OK);
    GUID source = GUID_NULL;
    EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
    EXPECT_TRUE(source == DIID__IPresselEvents);
    ITypeInfo* coclass = nullptr;
    ASSERT_EQ(classInfo->GetClassInfo(&coclass), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(attr->guid == CLSID_Pressel);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    coclass->ReleaseTypeAttr(attr);
    coclass->Release();
    classInfo->Release();

    EXPECT_EQ(cp->Unadvise(c1), S_OK);
    EXPECT_EQ(cp->Unadvise(c2), S_OK);
    cp->Release();
    disp->Release();
    EXPECT_EQ(failing.refs, 0u);
    EXPECT_EQ(second.refs, 0u);
}

TEST_F(DispatchTest, FailingStartLeavesTheErrorObjectAndReturnsByErrorReturnState) {
    IDispatch* disp = Create();
    ASSERT_NE(disp, nullptr);
    std::vector<Event> log;
    Sink sink(1, &log);
    IConnectionPoint* cp = EventsPoint(disp);
    DWORD cookie = 0;
    ASSERT_EQ(cp->Advise(&sink, &cookie), S_OK);
    std::string ini = WriteIni();
    auto start = [&](const char* printer, VARIANT* result, EXCEPINFO* excep) {
        VARIANT nullIni;
        VariantInit(&nullIni);
        nullIni.vt = VT_BSTR;
        nullIni.bstrVal = nullptr;
        return Call(disp, u"StartLP", DISPATCH_METHOD,
                    {nullIni, Str(printer), Str(Path("out.prn")), I4(0), Str(ini)}, result, excep);
    };

    // ErrorReturnState 0: success, the code in the out value, the properties
    // and the error object, which reading properties through Invoke keeps.
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(start("Nobody", &result, nullptr), S_OK);
    EXPECT_EQ(Get(disp, u"PageNo"), 1);
    IErrorInfo* error = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &error), S_OK);
    BSTR text = nullptr;
    error->GetDescription(&text);
    EXPECT_EQ(Narrow(text), "CPressel::EntryName missing..");
    SysFreeString(text);
    error->GetSource(&text);
    EXPECT_EQ(Narrow(text), "Quendrix Pressel Class V01.14");
    SysFreeString(text);
    GUID guid = GUID_NULL;
    error->GetGUID(&guid);
    EXPECT_TRUE(guid == IID_IPressel);
    error->Release();
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 8);
    EXPECT_EQ(Get(disp, u"LastError"), static_cast<LONG>(0x80040D01));
    EXPECT_EQ(Get(disp, u"ErrorMethodID"), 11);
    EXPECT_EQ(log, (std::vector<Event>{{1, DISPID_NotifyMessage, 1, 8}}));

    // ErrorReturnState 1: the failure reaches the client as an exception.
    ASSERT_EQ(Call(disp, u"ErrorReturnState", DISPATCH_PROPERTYPUT, {I4(1)}), S_OK);
    EXCEPINFO excep = {};
    EXPECT_EQ(start("Nobody", &result, &excep), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, static_cast<SCODE>(0x80040D01));
    EXPECT_EQ(Narrow(excep.bstrDescription), "CPressel::EntryName missing..");
    EXPECT_EQ(Narrow(excep.bstrSource), "Quendrix Pressel Class V01.14");
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);
    VariantClear(&result);

    // A job whose Bitmap fails reports through the same path.
    ASSERT_EQ(start("P", &result, nullptr), S_OK);
    EXPECT_EQ(result.lVal, 0);
    excep = {};
    EXPECT_EQ(Call(disp, u"Bitmap", DISPATCH_METHOD, {I4(0), I4(1), I4(1), Str("")}, nullptr, &excep),
              DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, static_cast<SCODE>(0x80040D05));
    EXPECT_EQ(Narrow(excep.bstrDescription), "CPressel::No valid filename..");
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);
    EXPECT_EQ(Get(disp, u"ErrorMethodID"), 7);
    EXPECT_EQ(Call(disp, u"Finish", DISPATCH_METHOD, {}), S_OK);

    cp->Unadvise(cookie);
    cp->Release();
    disp->Release();
}

TEST_F(DispatchTest, InvokeRefusesForeignInterfacesAndUnknownMembers) {
    IDispatch* disp = Create();
    ASSERT_NE(disp, nullptr);
    DISPID id = Id(disp, u"PageNo");
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(disp->Invoke(id, IID_IPressel, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(disp->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
    disp->Release();
}

}  // namespace
}  // namespace automation_test
