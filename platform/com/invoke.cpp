// ITypeInfo::Invoke for virtual-table functions: DISPPARAMS to the
// parameters the type library describes, the call, the result back.
//
// On x86-64 Linux every parameter of integer class (integers, BSTRs,
// pointers) travels in the same registers and stack slots as an intptr_t, so
// a call through a pointer to a function taking intptr_t arguments is exact
// for them. Floating-point and by-value VARIANT parameters are refused.
#include <cstring>
#include <utility>
#include <vector>

#include "com/typelib_model.h"

namespace platform::typelib {
namespace {

constexpr size_t kMaxCallArgs = 16;

using Word = intptr_t;

template <size_t... I>
HRESULT CallWith(void* fn, void* self, const Word* a, std::index_sequence<I...>) {
    using Fn = HRESULT (*)(void*, decltype(I, Word())...);
    return reinterpret_cast<Fn>(fn)(self, a[I]...);
}

template <size_t N>
HRESULT CallN(void* fn, void* self, const Word* a) {
    return CallWith(fn, self, a, std::make_index_sequence<N>());
}

HRESULT Call(void* fn, void* self, const std::vector<Word>& args) {
    using Caller = HRESULT (*)(void*, void*, const Word*);
    static constexpr Caller callers[kMaxCallArgs + 1] = {
        CallN<0>,  CallN<1>,  CallN<2>,  CallN<3>,  CallN<4>,  CallN<5>,  CallN<6>,  CallN<7>,  CallN<8>,
        CallN<9>,  CallN<10>, CallN<11>, CallN<12>, CallN<13>, CallN<14>, CallN<15>, CallN<16>};
    return callers[args.size()](fn, self, args.data());
}

bool IsIntegerClass(VARTYPE vt) {
    switch (vt) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8:
    case VT_INT: case VT_UINT: case VT_BOOL: case VT_ERROR: case VT_HRESULT: case VT_BSTR: case VT_DISPATCH:
    case VT_UNKNOWN:
        return true;
    default:
        return false;
    }
}

// The register value of a VARIANT holding vt, extended as the callee expects.
Word ValueWord(const VARIANT& v) {
    switch (v.vt) {
    case VT_I1: return static_cast<Word>(v.cVal);
    case VT_UI1: return static_cast<Word>(v.bVal);
    case VT_I2: case VT_BOOL: return static_cast<Word>(v.iVal);
    case VT_UI2: return static_cast<Word>(v.uiVal);
    case VT_I4: case VT_INT: case VT_ERROR: case VT_HRESULT: return static_cast<Word>(v.lVal);
    case VT_UI4: case VT_UINT: return static_cast<Word>(v.ulVal);
    case VT_I8: case VT_UI8: return static_cast<Word>(v.llVal);
    default: return reinterpret_cast<Word>(v.byref);  // BSTR and interface pointers
    }
}

// Whether the parameter can be passed by this invoker.
bool Passable(const Param& p) {
    if (p.type.pointers == 0) return IsIntegerClass(p.type.vt) && p.type.vt != VT_HRESULT;
    if (p.type.pointers == 1) return p.type.vt != VT_USERDEFINED && p.type.vt != VT_VOID;
    return false;
}

bool IsMissing(const VARIANT* v) { return !v || (v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND); }

void FillException(HRESULT hr, EXCEPINFO* info) {
    std::memset(info, 0, sizeof *info);
    info->scode = hr;
    IErrorInfo* error = nullptr;
    if (GetErrorInfo(0, &error) != S_OK || !error) return;
    error->GetSource(&info->bstrSource);
    error->GetDescription(&info->bstrDescription);
    error->GetHelpFile(&info->bstrHelpFile);
    error->GetHelpContext(&info->dwHelpContext);
    error->Release();
}

// Arguments converted for the call; owns what the conversions made.
class Arguments {
public:
    ~Arguments() {
        for (VARIANT& v : temps_) VariantClear(&v);
    }
    // Converts rgvarg[index] for param; on failure *argErr names index.
    HRESULT Add(const Param& param, VARIANT* arg, UINT index, UINT* argErr) {
        if (param.type.pointers == 0) {
            VARIANT converted;
            VariantInit(&converted);
            HRESULT hr = VariantChangeType(&converted, arg, 0, param.type.vt);
            if (FAILED(hr)) {
                if (argErr) *argErr = index;
                return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
            }
            words_.push_back(ValueWord(converted));
            temps_.push_back(converted);
            return S_OK;
        }
        // Pointers: the caller's own storage, so that out values reach it.
        if (param.type.vt == VT_VARIANT) {
            words_.push_back(reinterpret_cast<Word>(arg->vt == (VT_BYREF | VT_VARIANT) ? arg->pvarVal : arg));
            return S_OK;
        }
        if (arg->vt != (VT_BYREF | param.type.vt) || !arg->byref) {
            if (argErr) *argErr = index;
            return DISP_E_TYPEMISMATCH;
        }
        words_.push_back(reinterpret_cast<Word>(arg->byref));
        return S_OK;
    }
    void AddWord(Word w) { words_.push_back(w); }
    const std::vector<Word>& words() const { return words_; }

private:
    std::vector<Word> words_;
    std::vector<VARIANT> temps_;
};

}  // namespace

HRESULT InvokeVtable(const Func& func, void* instance, WORD wFlags, DISPPARAMS* params, VARIANT* result,
                     EXCEPINFO* excepInfo, UINT* argErr) {
    if (!instance || !params) return E_INVALIDARG;
    if (params->cArgs < params->cNamedArgs || (params->cArgs && !params->rgvarg) ||
        (params->cNamedArgs && !params->rgdispidNamedArgs))
        return E_INVALIDARG;
    const size_t userCount = func.params.size() - (func.HasRetval() ? 1 : 0);
    for (const Param& p : func.params)
        if (!Passable(p)) return DISP_E_BADVARTYPE;
    if (func.params.size() > kMaxCallArgs) return DISP_E_BADVARTYPE;

    // Which argument fills which parameter: positional ones come last in
    // rgvarg, in reverse order; named ones first.
    const UINT positional = params->cArgs - params->cNamedArgs;
    if (positional > userCount) return DISP_E_BADPARAMCOUNT;
    std::vector<VARIANT*> supplied(userCount, nullptr);
    std::vector<UINT> where(userCount, 0);
    for (UINT i = 0; i < positional; ++i) {
        where[i] = params->cArgs - 1 - i;
        supplied[i] = &params->rgvarg[where[i]];
    }
    const bool isPut = func.kind == INVOKE_PROPERTYPUT || func.kind == INVOKE_PROPERTYPUTREF;
    for (UINT j = 0; j < params->cNamedArgs; ++j) {
        DISPID id = params->rgdispidNamedArgs[j];
        if (id == DISPID_PROPERTYPUT && isPut && userCount > 0) id = static_cast<DISPID>(userCount - 1);
        if (id < 0 || static_cast<size_t>(id) >= userCount || supplied[id]) {
            if (argErr) *argErr = j;
            return DISP_E_PARAMNOTFOUND;
        }
        supplied[id] = &params->rgvarg[j];
        where[id] = j;
    }

    Arguments args;
    for (size_t p = 0; p < userCount; ++p) {
        if (IsMissing(supplied[p])) return DISP_E_PARAMNOTOPTIONAL;
        HRESULT hr = args.Add(func.params[p], supplied[p], where[p], argErr);
        if (FAILED(hr)) return hr;
    }
    VARIANT retval;
    VariantInit(&retval);
    VARTYPE retvalType = VT_EMPTY;
    if (func.HasRetval()) {
        const TypeSpec& type = func.params.back().type;
        retvalType = type.vt;
        args.AddWord(reinterpret_cast<Word>(retvalType == VT_VARIANT ? static_cast<void*>(&retval)
                                                                      : static_cast<void*>(&retval.llVal)));
    }

    void** vtable = *static_cast<void***>(instance);
    void* fn = vtable[func.vtableOffset / static_cast<SHORT>(sizeof(void*))];
    // An error object left from before is not this call's: it is set aside so
    // that a failure reports only what the member published, and put back
    // when the call succeeds without publishing one (a property read must not
    // lose the error of the method before it).
    IErrorInfo* earlier = nullptr;
    GetErrorInfo(0, &earlier);
    HRESULT hr = Call(fn, instance, args.words());
    if (FAILED(hr)) {
        if (earlier) earlier->Release();
        if (excepInfo) FillException(hr, excepInfo);
        return DISP_E_EXCEPTION;
    }
    if (earlier) {
        IErrorInfo* own = nullptr;
        GetErrorInfo(0, &own);
        SetErrorInfo(0, own ? own : earlier);
        if (own) own->Release();
        earlier->Release();
    }
    if (retvalType != VT_EMPTY && retvalType != VT_VARIANT) retval.vt = retvalType;
    if (result) {
        *result = retval;
    } else {
        VariantClear(&retval);
    }
    (void)wFlags;
    return S_OK;
}

}  // namespace platform::typelib

WINOLEAPI DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames, DISPID* rgdispid) {
    if (!ptinfo) return E_INVALIDARG;
    return ptinfo->GetIDsOfNames(rgszNames, cNames, rgdispid);
}

WINOLEAPI DispInvoke(void* _this, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags, DISPPARAMS* pparams,
                     VARIANT* pvarResult, EXCEPINFO* pexcepinfo, UINT* puArgErr) {
    if (!ptinfo) return E_INVALIDARG;
    return ptinfo->Invoke(_this, dispidMember, wFlags, pparams, pvarResult, pexcepinfo, puArgErr);
}
