// Status codes of the KTSB link: the condition table, the flag mapping and
// what reaches the application.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "port/Ktsb.h"
#include "port_fixture.h"

namespace {

using Notes = std::vector<std::pair<LONG, LONG>>;

const LONG kFatal[] = {120, 121, 122, 200, 201, 202, 203, 204, 210, 221, 222, 228, 229};
const LONG kNotFatal[] = {102, 104, 106, 113, 123, 124, 223, 224, 225, 226, 227};

TEST(KtsbStatus, TableDecidesWithOrWithoutAnInstance) {
    port_test::Control control;
    // Fatal codes: reported when there is an instance, and stop in any case.
    for (CPressel* instance : {static_cast<CPressel*>(nullptr), control.pressel}) {
        g_pCurrentInstance = instance;
        control.sink.notes.clear();
        Notes expected;
        for (LONG code : kFatal) {
            EXPECT_EQ(port::ClassifyStatus(code), port::kKtsbStop) << code;
            if (instance) expected.push_back({1080, code});
        }
        for (LONG code : kNotFatal) {
            EXPECT_EQ(port::ClassifyStatus(code), 0) << code;
            if (instance) expected.push_back({1080, code});
        }
        EXPECT_EQ(control.sink.notes, expected);
    }
    g_pCurrentInstance = nullptr;
}

TEST(KtsbStatus, OnlyTheLowEightBitsCount) {
    port_test::Control control;
    g_pCurrentInstance = control.pressel;
    const struct {
        LONG status;
        LONG reported;
        LONG result;
    } cases[] = {
        {0x1000, 0, 0},           // a bare repeat request: code 0, not in the table
        {0x1000 | 221, 221, 2},   // fatal even with the repeat bit
        {0x1000 | 223, 223, 0},
        {0x100 | 200, 200, 2},
        {0xFF, 255, 0},           // unknown
        {1, 1, 0},
    };
    for (const auto& c : cases) {
        control.sink.notes.clear();
        EXPECT_EQ(port::ClassifyStatus(c.status), c.result) << std::hex << c.status;
        EXPECT_EQ(control.sink.notes, (Notes{{1080, c.reported}}));
    }
    g_pCurrentInstance = nullptr;
}

TEST(KtsbStatus, CancellingInTheHandlerStopsOnANonFatalCode) {
    port_test::Control control;
    g_pCurrentInstance = control.pressel;
    control.sink.onNotify = [&](std::pair<LONG, LONG>) { control->m_bPrinting = 0; };
    EXPECT_EQ(port::ClassifyStatus(223), port::kKtsbStop);
    EXPECT_FALSE(control->m_bPrinting);
    g_pCurrentInstance = nullptr;
}

TEST(KtsbStatus, FlagsMapByTheFirstBitInTheirOrder) {
    const struct {
        BYTE flags;
        LONG code;
    } cases[] = {
        {0x00, 221}, {0x01, 222}, {0x40, 228}, {0x80, 229}, {0x02, 223}, {0x04, 224}, {0x08, 225},
        {0x10, 226}, {0x20, 227}, {0xFF, 222}, {0xC0, 228}, {0x82, 229}, {0x3E, 223}, {0x30, 226},
    };
    for (const auto& c : cases) EXPECT_EQ(port::MapKtsbFlags(c.flags), c.code) << std::hex << int(c.flags);
}

TEST(KtsbStatus, NoDriverToAskIsAFatalStatus) {
    ASSERT_EQ(port::g_hKtsbPort, INVALID_HANDLE_VALUE);
    EXPECT_EQ(port::KtsbGetStatus(), port::kKtsbNoStatus);
    // So a write on a link that is gone stops instead of repeating.
    EXPECT_EQ(port::ClassifyStatus(port::KtsbGetStatus()), port::kKtsbStop);
}

}  // namespace
