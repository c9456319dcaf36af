#include <gtest/gtest.h>

#include <string>

#include "win/ole.h"

namespace {

TEST(Guid, TextRoundTrip) {
    WCHAR text[39];
    ASSERT_EQ(StringFromGUID2(IID_IConnectionPoint, text, 39), 39);
    EXPECT_EQ(std::u16string(text), u"{B196B286-BAB4-101A-B69C-00AA00341D07}");
    IID back{};
    ASSERT_EQ(IIDFromString(text, &back), S_OK);
    EXPECT_TRUE(back == IID_IConnectionPoint);
    // Lower-case digits read the same.
    ASSERT_EQ(CLSIDFromString(u"{1cf2b120-547d-101b-8e65-08002b2bd119}", &back), S_OK);
    EXPECT_TRUE(IsEqualGUID(back, IID_IErrorInfo));
}

TEST(Guid, ShortBufferWritesNothing) {
    WCHAR text[38];
    text[0] = u'#';
    EXPECT_EQ(StringFromGUID2(IID_IUnknown, text, 38), 0);
    EXPECT_EQ(text[0], u'#');
}

TEST(Guid, MalformedTextIsRefused) {
    const char16_t* bad[] = {
        u"",
        u"{B196B286-BAB4-101A-B69C-00AA00341D07",      // no closing brace
        u"{B196B286-BAB4-101A-B69C-00AA00341D07}x",    // trailing text
        u"B196B286-BAB4-101A-B69C-00AA00341D07",       // no braces
        u"{B196B286-BAB4-101A-B69C00AA-00341D07}",     // dash misplaced
        u"{B196B28G-BAB4-101A-B69C-00AA00341D07}",     // not hexadecimal
        u"{B196B286-BAB4-101A-B69C-00AA00341D0}",      // short
        u"Quendrix.Pressel",                           // program identifiers are not looked up here
    };
    for (const char16_t* text : bad) {
        GUID g = IID_IDispatch;
        EXPECT_EQ(CLSIDFromString(text, &g), CO_E_CLASSSTRING);
        EXPECT_EQ(IIDFromString(text, &g), E_INVALIDARG);
        EXPECT_TRUE(g == IID_IDispatch);
    }
    GUID g = IID_IDispatch;
    EXPECT_EQ(CLSIDFromString(nullptr, &g), S_OK);
    EXPECT_TRUE(g == CLSID_NULL);
}

}  // namespace
