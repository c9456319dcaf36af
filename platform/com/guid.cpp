// GUID text in the registry form "{6F1B2C4A-3D8E-4B71-9A52-0C7E4D9B1F31}".
#include "win/ole.h"

namespace {

constexpr int kGuidChars = 38;

int HexValue(WCHAR c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Reads `digits` hexadecimal digits at text[*pos]; false on any other character.
bool ReadHex(const WCHAR* text, int* pos, int digits, ULONGLONG* value) {
    ULONGLONG v = 0;
    for (int i = 0; i < digits; ++i) {
        int d = HexValue(text[*pos]);
        if (d < 0) return false;
        v = (v << 4) | static_cast<ULONGLONG>(d);
        ++*pos;
    }
    *value = v;
    return true;
}

bool Expect(const WCHAR* text, int* pos, WCHAR c) {
    if (text[*pos] != c) return false;
    ++*pos;
    return true;
}

bool ParseGuid(const WCHAR* text, GUID* out) {
    GUID g{};
    ULONGLONG v = 0;
    int pos = 0;
    if (!Expect(text, &pos, u'{')) return false;
    if (!ReadHex(text, &pos, 8, &v)) return false;
    g.Data1 = static_cast<DWORD>(v);
    if (!Expect(text, &pos, u'-') || !ReadHex(text, &pos, 4, &v)) return false;
    g.Data2 = static_cast<WORD>(v);
    if (!Expect(text, &pos, u'-') || !ReadHex(text, &pos, 4, &v)) return false;
    g.Data3 = static_cast<WORD>(v);
    if (!Expect(text, &pos, u'-')) return false;
    for (int i = 0; i < 8; ++i) {
        if (i == 2 && !Expect(text, &pos, u'-')) return false;
        if (!ReadHex(text, &pos, 2, &v)) return false;
        g.Data4[i] = static_cast<BYTE>(v);
    }
    if (!Expect(text, &pos, u'}') || text[pos] != 0) return false;
    *out = g;
    return true;
}

HRESULT FromString(LPCOLESTR text, GUID* out, HRESULT malformed) {
    if (!out) return E_INVALIDARG;
    if (!text) {
        *out = GUID_NULL;
        return S_OK;
    }
    if (!ParseGuid(text, out)) return malformed;
    return S_OK;
}

}  // namespace

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (!lpsz || cchMax < kGuidChars + 1) return 0;
    static const char kHex[] = "0123456789ABCDEF";
    int pos = 0;
    auto put = [&](ULONGLONG v, int digits) {
        for (int i = digits - 1; i >= 0; --i) lpsz[pos++] = static_cast<WCHAR>(kHex[(v >> (4 * i)) & 0xF]);
    };
    lpsz[pos++] = u'{';
    put(rguid.Data1, 8);
    lpsz[pos++] = u'-';
    put(rguid.Data2, 4);
    lpsz[pos++] = u'-';
    put(rguid.Data3, 4);
    lpsz[pos++] = u'-';
    for (int i = 0; i < 8; ++i) {
        if (i == 2) lpsz[pos++] = u'-';
        put(rguid.Data4[i], 2);
    }
    lpsz[pos++] = u'}';
    lpsz[pos++] = 0;
    return pos;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) { return FromString(lpsz, pclsid, CO_E_CLASSSTRING); }

HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid) { return FromString(lpsz, lpiid, E_INVALIDARG); }
