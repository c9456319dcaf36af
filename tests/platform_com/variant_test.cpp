#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "win/ole.h"

namespace {

TEST(Variant, WindowsX64Layout) {
    EXPECT_EQ(sizeof(VARIANT), 24u);
    EXPECT_EQ(offsetof(VARIANT, lVal), 8u);
    EXPECT_EQ(offsetof(VARIANT, pRecInfo), 16u);
}

VARIANT Text(const char16_t* s) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(s);
    return v;
}
VARIANT I4(LONG n) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}
VARIANT R8(double d) {
    VARIANT v;
    v.vt = VT_R8;
    v.dblVal = d;
    return v;
}

struct ToI4Case {
    VARIANT src;
    HRESULT hr;
    LONG value;
};

TEST(Variant, ConversionsToI4) {
    VARIANT empty;
    VariantInit(&empty);
    VARIANT yes;
    yes.vt = VT_BOOL;
    yes.boolVal = VARIANT_TRUE;
    VARIANT big;
    big.vt = VT_UI4;
    big.ulVal = 0x80000000u;
    ToI4Case cases[] = {
        {Text(u"42"), S_OK, 42},
        {Text(u"  -17 "), S_OK, -17},
        {Text(u"&H1F"), S_OK, 31},
        {Text(u"2.5"), S_OK, 2},    // half to even
        {Text(u"3.5"), S_OK, 4},
        {Text(u"-2.5"), S_OK, -2},
        {Text(u"1e3"), S_OK, 1000},
        {Text(u"2147483648"), DISP_E_OVERFLOW, 0},
        {Text(u"-2147483648"), S_OK, INT32_MIN},
        {Text(u"12abc"), DISP_E_TYPEMISMATCH, 0},
        {Text(u""), DISP_E_TYPEMISMATCH, 0},
        {Text(u"1e"), DISP_E_TYPEMISMATCH, 0},
        {R8(-0.5), S_OK, 0},
        {R8(1e10), DISP_E_OVERFLOW, 0},
        {empty, S_OK, 0},
        {yes, S_OK, -1},
        {big, DISP_E_OVERFLOW, 0},
    };
    for (ToI4Case& c : cases) {
        VARIANT out = I4(0x5A5A5A5A);
        HRESULT hr = VariantChangeType(&out, &c.src, 0, VT_I4);
        EXPECT_EQ(hr, c.hr) << c.src.vt;
        if (hr == S_OK) {
            EXPECT_EQ(out.vt, VT_I4);
            EXPECT_EQ(out.lVal, c.value);
        } else {
            EXPECT_EQ(out.lVal, 0x5A5A5A5A);  // left alone on failure
        }
        VariantClear(&c.src);
    }
}

TEST(Variant, NarrowIntegersAndUnsigned) {
    struct Case {
        LONG in;
        VARTYPE vt;
        HRESULT hr;
    };
    const Case cases[] = {
        {127, VT_I1, S_OK},       {128, VT_I1, DISP_E_OVERFLOW}, {-129, VT_I1, DISP_E_OVERFLOW},
        {255, VT_UI1, S_OK},      {-1, VT_UI1, DISP_E_OVERFLOW}, {-32768, VT_I2, S_OK},
        {65535, VT_UI2, S_OK},    {-1, VT_UI4, DISP_E_OVERFLOW}, {-1, VT_I8, S_OK},
    };
    for (const Case& c : cases) {
        VARIANT src = I4(c.in), out;
        VariantInit(&out);
        EXPECT_EQ(VariantChangeType(&out, &src, 0, c.vt), c.hr) << c.in << " to " << c.vt;
        if (c.hr == S_OK) {
            VARIANT back;
            VariantInit(&back);
            ASSERT_EQ(VariantChangeType(&back, &out, 0, VT_I4), S_OK);
            EXPECT_EQ(back.lVal, c.in);
        }
    }
}

TEST(Variant, ConversionsToText) {
    VARIANT t;
    t.vt = VT_BOOL;
    t.boolVal = VARIANT_TRUE;
    struct Case {
        VARIANT src;
        USHORT flags;
        const char16_t* text;
    } cases[] = {
        {I4(-123), 0, u"-123"},
        {R8(1.5), 0, u"1.5"},
        {R8(0.1), 0, u"0.1"},
        {R8(1e20), 0, u"1E+20"},
        {t, 0, u"-1"},
        {t, VARIANT_ALPHABOOL, u"True"},
    };
    for (auto& c : cases) {
        VARIANT out;
        VariantInit(&out);
        ASSERT_EQ(VariantChangeType(&out, &c.src, c.flags, VT_BSTR), S_OK);
        ASSERT_EQ(out.vt, VT_BSTR);
        EXPECT_EQ(std::u16string(out.bstrVal, SysStringLen(out.bstrVal)), c.text);
        VariantClear(&out);
    }
}

TEST(Variant, ConversionsToBool) {
    struct Case {
        const char16_t* text;
        HRESULT hr;
        VARIANT_BOOL value;
    } cases[] = {
        {u"True", S_OK, VARIANT_TRUE}, {u" false ", S_OK, VARIANT_FALSE}, {u"#TRUE#", S_OK, VARIANT_TRUE},
        {u"0", S_OK, VARIANT_FALSE},   {u"-3", S_OK, VARIANT_TRUE},       {u"yes", DISP_E_TYPEMISMATCH, 0},
    };
    for (auto& c : cases) {
        VARIANT src = Text(c.text), out;
        VariantInit(&out);
        EXPECT_EQ(VariantChangeType(&out, &src, 0, VT_BOOL), c.hr);
        if (c.hr == S_OK) {
            EXPECT_EQ(out.boolVal, c.value);
        }
        VariantClear(&src);
    }
}

TEST(Variant, ByReferenceSourceAndInPlaceConversion) {
    LONG n = 77;
    VARIANT ref;
    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = &n;
    VARIANT out;
    VariantInit(&out);
    ASSERT_EQ(VariantChangeType(&out, &ref, 0, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string(out.bstrVal), u"77");
    // In place: the string is replaced by its number and freed.
    ASSERT_EQ(VariantChangeType(&out, &out, 0, VT_I4), S_OK);
    EXPECT_EQ(out.vt, VT_I4);
    EXPECT_EQ(out.lVal, 77);
}

TEST(Variant, NullErrorAndUnsupportedTypes) {
    VARIANT null;
    null.vt = VT_NULL;
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(VariantChangeType(&out, &null, 0, VT_I4), DISP_E_TYPEMISMATCH);
    VARIANT cy;
    cy.vt = VT_CY;
    cy.cyVal.int64 = 10000;
    EXPECT_EQ(VariantChangeType(&out, &cy, 0, VT_I4), E_NOTIMPL);
    VARIANT src = I4(1);
    EXPECT_EQ(VariantChangeType(&out, &src, 0, VT_ARRAY | VT_I4), DISP_E_BADVARTYPE);
    VARIANT bad;
    bad.vt = 0x77;
    EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(bad.vt, 0x77);
}

class CountedUnknown final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    ULONG refs = 1;
};

TEST(Variant, CopyAndClearKeepReferencesBalanced) {
    CountedUnknown unk;
    VARIANT a;
    a.vt = VT_UNKNOWN;
    a.punkVal = &unk;
    VARIANT b = Text(u"old");
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);  // frees "old", adds a reference
    EXPECT_EQ(unk.refs, 2u);
    VARIANT c;
    VariantInit(&c);
    EXPECT_EQ(VariantChangeType(&c, &a, 0, VT_DISPATCH), E_NOINTERFACE);
    EXPECT_EQ(unk.refs, 2u);
    VariantClear(&b);
    EXPECT_EQ(unk.refs, 1u);
    EXPECT_EQ(b.vt, VT_EMPTY);

    VARIANT s;
    s.vt = VT_BSTR;
    s.bstrVal = SysAllocStringLen(u"a\0b", 3);
    VARIANT d;
    VariantInit(&d);
    ASSERT_EQ(VariantCopy(&d, &s), S_OK);
    EXPECT_NE(d.bstrVal, s.bstrVal);
    EXPECT_EQ(SysStringLen(d.bstrVal), 3u);
    VariantClear(&d);
    SysFreeString(s.bstrVal);
}

}  // namespace
