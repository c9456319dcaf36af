// VARIANTs: clearing, copying and the conversions the dispatch code needs.
// Numbers are written and read in the invariant format, whatever the locale.
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <string>

#include "win/ole.h"

namespace {

bool IsScalar(VARTYPE vt) {
    switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
    case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_DECIMAL: case VT_I1:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
        return true;
    default:
        return false;
    }
}

// Types a VARIANT may hold here. Arrays and records are refused: the layer
// has no SAFEARRAY or IRecordInfo support.
bool IsHoldable(VARTYPE vt) {
    if (vt & VT_BYREF) {
        VARTYPE base = vt & ~VT_BYREF;
        return base == VT_VARIANT || (IsScalar(base) && base != VT_EMPTY && base != VT_NULL);
    }
    return IsScalar(vt);
}

// Bytes of the value a by-reference VARIANT of this base type points to.
size_t ValueSize(VARTYPE base) {
    switch (base) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    default: return 8;  // VT_R8, VT_I8, VT_UI8, VT_CY, VT_DATE
    }
}

HRESULT CopyValue(VARIANT* dest, const VARIANT& src) {
    *dest = src;
    if (src.vt == VT_BSTR && src.bstrVal) {
        dest->bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src.bstrVal), SysStringByteLen(src.bstrVal));
        if (!dest->bstrVal) {
            dest->vt = VT_EMPTY;
            return E_OUTOFMEMORY;
        }
    } else if ((src.vt == VT_UNKNOWN || src.vt == VT_DISPATCH) && src.punkVal) {
        src.punkVal->AddRef();
    }
    return S_OK;
}

// The value behind a by-reference VARIANT, as a VARIANT of its own.
HRESULT Dereference(VARIANT* dest, const VARIANT& src) {
    VARTYPE base = src.vt & ~VT_BYREF;
    if (!src.byref) return E_INVALIDARG;
    if (base == VT_VARIANT) {
        const VARIANT& inner = *src.pvarVal;
        if ((inner.vt & VT_BYREF) || !IsHoldable(inner.vt)) return E_INVALIDARG;
        return CopyValue(dest, inner);
    }
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    if (base == VT_DECIMAL) {
        v.decVal = *src.pdecVal;
    } else if (base == VT_BSTR) {
        v.bstrVal = *src.pbstrVal;
    } else if (base == VT_UNKNOWN || base == VT_DISPATCH) {
        v.punkVal = *src.ppunkVal;
    } else {
        std::memcpy(&v.llVal, src.byref, ValueSize(base));
    }
    v.vt = base;  // after decVal, which overlaps it
    return CopyValue(dest, v);
}

// ---- Conversions ----

// A number read from a VARIANT or from text: an exact integer or a double.
struct Number {
    bool isInteger = true;
    bool negative = false;
    ULONGLONG magnitude = 0;
    double real = 0;
};

Number FromSigned(LONGLONG v) {
    Number n;
    n.negative = v < 0;
    n.magnitude = n.negative ? 0 - static_cast<ULONGLONG>(v) : static_cast<ULONGLONG>(v);
    return n;
}
Number FromUnsigned(ULONGLONG v) {
    Number n;
    n.magnitude = v;
    return n;
}
Number FromReal(double d) {
    Number n;
    n.isInteger = false;
    n.real = d;
    return n;
}

double AsReal(const Number& n) {
    double d = static_cast<double>(n.magnitude);
    return n.isInteger ? (n.negative ? -d : d) : n.real;
}

// Round half to even, as the device rounds fractions to integers.
double RoundEven(double x) {
    double r = std::floor(x + 0.5);
    if (r - x == 0.5 && std::fmod(r, 2.0) != 0) r -= 1;
    return r;
}

// The number as an integer within [lo, hi]; DISP_E_OVERFLOW outside.
HRESULT ToInteger(const Number& n, LONGLONG lo, ULONGLONG hi, bool* negative, ULONGLONG* magnitude) {
    bool neg = n.negative;
    ULONGLONG mag = n.magnitude;
    if (!n.isInteger) {
        double r = RoundEven(n.real);
        if (std::isnan(r) || r <= -18446744073709551616.0 || r >= 18446744073709551616.0) return DISP_E_OVERFLOW;
        neg = r < 0;
        mag = static_cast<ULONGLONG>(neg ? -r : r);
    }
    if (mag == 0) neg = false;
    if (neg) {
        ULONGLONG limit = lo < 0 ? 0 - static_cast<ULONGLONG>(lo) : 0;
        if (mag > limit) return DISP_E_OVERFLOW;
    } else if (mag > hi) {
        return DISP_E_OVERFLOW;
    }
    *negative = neg;
    *magnitude = mag;
    return S_OK;
}

bool IsBlank(WCHAR c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// Text of at most this many characters is read as a number.
constexpr size_t kMaxNumberText = 400;

// Reads "[+|-]digits[.digits][e[+|-]digits]" or "&Hhex" / "&Ooctal",
// blanks around it allowed.
bool ParseNumber(BSTR text, Number* out) {
    size_t len = SysStringLen(text);
    size_t i = 0;
    while (i < len && IsBlank(text[i])) ++i;
    while (len > i && IsBlank(text[len - 1])) --len;
    if (i == len || len - i > kMaxNumberText) return false;

    if (text[i] == u'&' && i + 1 < len) {
        WCHAR kind = text[i + 1];
        int base = (kind == u'H' || kind == u'h') ? 16 : (kind == u'O' || kind == u'o') ? 8 : 0;
        if (!base || i + 2 == len) return false;
        ULONGLONG v = 0;
        for (size_t k = i + 2; k < len; ++k) {
            WCHAR c = text[k];
            int d = (c >= u'0' && c <= u'9') ? c - u'0'
                    : (c >= u'a' && c <= u'f') ? c - u'a' + 10
                    : (c >= u'A' && c <= u'F') ? c - u'A' + 10
                                               : 99;
            if (d >= base) return false;
            if (v > (std::numeric_limits<ULONGLONG>::max() - static_cast<ULONGLONG>(d)) / base) return false;
            v = v * base + static_cast<ULONGLONG>(d);
        }
        *out = FromUnsigned(v);
        return true;
    }

    std::string ascii;
    bool negative = false;
    if (text[i] == u'+' || text[i] == u'-') negative = text[i++] == u'-';
    bool digits = false, fraction = false, exponent = false;
    for (; i < len; ++i) {
        WCHAR c = text[i];
        if (c >= u'0' && c <= u'9') {
            digits = true;
        } else if (c == u'.' && !fraction && !exponent) {
            fraction = true;
        } else if ((c == u'e' || c == u'E') && digits && !exponent) {
            exponent = true;
            ascii += 'e';
            if (i + 1 < len && (text[i + 1] == u'+' || text[i + 1] == u'-')) ascii += static_cast<char>(text[++i]);
            if (i + 1 >= len) return false;
            continue;
        } else {
            return false;
        }
        ascii += static_cast<char>(c);
    }
    if (!digits) return false;
    const char* first = ascii.data();
    const char* last = first + ascii.size();
    if (!fraction && !exponent) {
        ULONGLONG v = 0;
        auto [end, ec] = std::from_chars(first, last, v);
        if (ec == std::errc() && end == last) {
            *out = FromUnsigned(v);
            out->negative = negative && v != 0;
            return true;
        }
    }
    // strtod in the C locale: overflow gives HUGE_VAL, underflow 0.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (!cLocale) return false;
    char* end = nullptr;
    double d = strtod_l(first, &end, cLocale);
    if (end != last) return false;
    *out = FromReal(negative ? -d : d);
    return true;
}

bool EqualsNoCase(BSTR text, const char16_t* word) {
    size_t len = SysStringLen(text);
    size_t i = 0;
    while (i < len && IsBlank(text[i])) ++i;
    while (len > i && IsBlank(text[len - 1])) --len;
    for (; i < len; ++i, ++word) {
        WCHAR c = text[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<WCHAR>(c - u'A' + u'a');
        if (!*word || c != *word) return false;
    }
    return *word == 0;
}

// The source as a number; DISP_E_TYPEMISMATCH when it is not one.
HRESULT ReadNumber(const VARIANT& s, Number* n) {
    switch (s.vt) {
    case VT_EMPTY: *n = FromSigned(0); return S_OK;
    case VT_BOOL: *n = FromSigned(s.boolVal ? -1 : 0); return S_OK;
    case VT_I1: *n = FromSigned(s.cVal); return S_OK;
    case VT_I2: *n = FromSigned(s.iVal); return S_OK;
    case VT_I4: case VT_INT: *n = FromSigned(s.lVal); return S_OK;
    case VT_I8: *n = FromSigned(s.llVal); return S_OK;
    case VT_UI1: *n = FromUnsigned(s.bVal); return S_OK;
    case VT_UI2: *n = FromUnsigned(s.uiVal); return S_OK;
    case VT_UI4: case VT_UINT: *n = FromUnsigned(s.ulVal); return S_OK;
    case VT_UI8: *n = FromUnsigned(s.ullVal); return S_OK;
    case VT_R4: *n = FromReal(s.fltVal); return S_OK;
    case VT_R8: *n = FromReal(s.dblVal); return S_OK;
    case VT_BSTR: return ParseNumber(s.bstrVal, n) ? S_OK : DISP_E_TYPEMISMATCH;
    default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToBool(const VARIANT& s, VARIANT_BOOL* out) {
    if (s.vt == VT_BSTR) {
        if (EqualsNoCase(s.bstrVal, u"true") || EqualsNoCase(s.bstrVal, u"#true#")) {
            *out = VARIANT_TRUE;
            return S_OK;
        }
        if (EqualsNoCase(s.bstrVal, u"false") || EqualsNoCase(s.bstrVal, u"#false#")) {
            *out = VARIANT_FALSE;
            return S_OK;
        }
    }
    Number n;
    HRESULT hr = ReadNumber(s, &n);
    if (FAILED(hr)) return hr;
    bool nonzero = n.isInteger ? n.magnitude != 0 : n.real != 0;
    *out = nonzero ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT MakeText(const std::string& ascii, VARIANT* out) {
    std::u16string wide(ascii.begin(), ascii.end());
    out->bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (!out->bstrVal) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    return S_OK;
}

std::string FormatReal(double d, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*G", digits, d);
    return buf;
}

HRESULT ToText(const VARIANT& s, USHORT flags, VARIANT* out) {
    switch (s.vt) {
    case VT_EMPTY: return MakeText("", out);
    case VT_BOOL:
        if (flags & VARIANT_ALPHABOOL) return MakeText(s.boolVal ? "True" : "False", out);
        return MakeText(s.boolVal ? "-1" : "0", out);
    case VT_R4: return MakeText(FormatReal(s.fltVal, 7), out);
    case VT_R8: return MakeText(FormatReal(s.dblVal, 15), out);
    default: break;
    }
    Number n;
    HRESULT hr = ReadNumber(s, &n);
    if (FAILED(hr)) return hr;
    std::string text = n.negative ? "-" : "";
    text += std::to_string(n.magnitude);
    return MakeText(text, out);
}

struct IntegerRange {
    VARTYPE vt;
    LONGLONG lo;
    ULONGLONG hi;
};
constexpr IntegerRange kIntegerRanges[] = {
    {VT_I1, -128, 127},
    {VT_UI1, 0, 255},
    {VT_I2, -32768, 32767},
    {VT_UI2, 0, 65535},
    {VT_I4, INT32_MIN, INT32_MAX},
    {VT_INT, INT32_MIN, INT32_MAX},
    {VT_UI4, 0, UINT32_MAX},
    {VT_UINT, 0, UINT32_MAX},
    {VT_I8, INT64_MIN, INT64_MAX},
    {VT_UI8, 0, UINT64_MAX},
};

HRESULT ToIntegerType(const VARIANT& s, const IntegerRange& range, VARIANT* out) {
    Number n;
    HRESULT hr = ReadNumber(s, &n);
    if (FAILED(hr)) return hr;
    bool neg = false;
    ULONGLONG mag = 0;
    hr = ToInteger(n, range.lo, range.hi, &neg, &mag);
    if (FAILED(hr)) return hr;
    // Two's complement of the magnitude; the value fits the type.
    ULONGLONG bits = neg ? 0 - mag : mag;
    out->llVal = 0;
    std::memcpy(&out->llVal, &bits, ValueSize(range.vt));  // little-endian: the low bytes
    out->vt = range.vt;
    return S_OK;
}

HRESULT ToRealType(const VARIANT& s, VARTYPE vt, VARIANT* out) {
    Number n;
    HRESULT hr = ReadNumber(s, &n);
    if (FAILED(hr)) return hr;
    double d = AsReal(n);
    if (std::isinf(d) && s.vt == VT_BSTR) return DISP_E_OVERFLOW;
    if (vt == VT_R4) {
        if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
        out->fltVal = static_cast<float>(d);
    } else {
        out->dblVal = d;
    }
    out->vt = vt;
    return S_OK;
}

HRESULT ToInterface(const VARIANT& s, VARTYPE vt, VARIANT* out) {
    if (s.vt != VT_UNKNOWN && s.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
    out->punkVal = nullptr;
    if (s.punkVal) {
        HRESULT hr = s.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown,
                                               reinterpret_cast<void**>(&out->punkVal));
        if (FAILED(hr)) return hr;
    }
    out->vt = vt;
    return S_OK;
}

bool IsUnsupportedValue(VARTYPE vt) { return vt == VT_CY || vt == VT_DATE || vt == VT_DECIMAL; }

// Converts s (not by reference) into out (empty); s and out are distinct.
HRESULT Convert(const VARIANT& s, USHORT flags, VARTYPE vt, VARIANT* out) {
    if (s.vt == vt) return CopyValue(out, s);
    if (vt == VT_EMPTY) return S_OK;
    if (s.vt == VT_NULL || vt == VT_NULL || s.vt == VT_ERROR || vt == VT_ERROR) return DISP_E_TYPEMISMATCH;
    if (IsUnsupportedValue(s.vt) || IsUnsupportedValue(vt)) return E_NOTIMPL;
    switch (vt) {
    case VT_BSTR: return ToText(s, flags, out);
    case VT_BOOL: {
        VARIANT_BOOL b = VARIANT_FALSE;
        HRESULT hr = ToBool(s, &b);
        if (SUCCEEDED(hr)) {
            out->boolVal = b;
            out->vt = VT_BOOL;
        }
        return hr;
    }
    case VT_R4: case VT_R8: return ToRealType(s, vt, out);
    case VT_UNKNOWN: case VT_DISPATCH: return ToInterface(s, vt, out);
    default: break;
    }
    for (const IntegerRange& range : kIntegerRanges)
        if (range.vt == vt) return ToIntegerType(s, range, out);
    return DISP_E_BADVARTYPE;
}

}  // namespace

void VariantInit(VARIANTARG* pvarg) {
    if (pvarg) pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
    if (!pvarg) return E_INVALIDARG;
    if (!IsHoldable(pvarg->vt)) return DISP_E_BADVARTYPE;
    VARTYPE vt = pvarg->vt;
    BSTR text = pvarg->bstrVal;
    IUnknown* unknown = pvarg->punkVal;
    // Emptied before releasing: a Release may re-enter and look at it.
    pvarg->vt = VT_EMPTY;
    if (vt == VT_BSTR) {
        SysFreeString(text);
    } else if ((vt == VT_UNKNOWN || vt == VT_DISPATCH) && unknown) {
        unknown->Release();
    }
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (!pvargDest || !pvargSrc) return E_INVALIDARG;
    if (!IsHoldable(pvargSrc->vt)) return DISP_E_BADVARTYPE;
    if (pvargDest == pvargSrc) return S_OK;
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr)) return hr;
    return CopyValue(pvargDest, *pvargSrc);
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
    if (!pvarDest || !pvargSrc) return E_INVALIDARG;
    if (!IsHoldable(pvargSrc->vt)) return DISP_E_BADVARTYPE;
    if (!(pvargSrc->vt & VT_BYREF)) return VariantCopy(pvarDest, pvargSrc);
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = Dereference(&value, *pvargSrc);
    if (FAILED(hr)) return hr;
    // The destination may be the source: clear it only now.
    hr = VariantClear(pvarDest);
    if (FAILED(hr)) {
        VariantClear(&value);
        return hr;
    }
    *pvarDest = value;
    return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
    if (!pvargDest || !pvarSrc) return E_INVALIDARG;
    if ((vt & (VT_BYREF | VT_ARRAY)) || !IsScalar(vt)) return DISP_E_BADVARTYPE;
    if (!IsHoldable(pvargDest->vt)) return DISP_E_BADVARTYPE;
    VARIANT source;
    VariantInit(&source);
    HRESULT hr = VariantCopyInd(&source, pvarSrc);
    if (FAILED(hr)) return hr;
    VARIANT result;
    std::memset(&result, 0, sizeof result);
    hr = Convert(source, wFlags, vt, &result);
    VariantClear(&source);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    VariantClear(pvargDest);
    *pvargDest = result;
    return S_OK;
}

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID /*lcid*/, USHORT wFlags,
                            VARTYPE vt) {
    return VariantChangeType(pvargDest, pvarSrc, wFlags, vt);
}
