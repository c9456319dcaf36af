// The line buffer, its flush in chunks and the direct senders: exact bytes at
// the port.
#include "text_fixture.h"

namespace text_test {
namespace {

using TextOutput = TextFixture;

BSTR Bytes(const std::string& bytes) {
    return SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size()));
}

void WriteBytes(IPressel* ip, const std::string& bytes, LONG count) {
    BSTR b = Bytes(bytes);
    EXPECT_EQ(ip->WriteBytes(b, count), S_OK);
    SysFreeString(b);
}

TEST_F(TextOutput, FlushSendsChunksOf128BufferBytesAskingBeforeEach) {
    const struct {
        BOOL unicode;
        std::vector<size_t> sizesSeenByAbort;  // port bytes when each chunk is about to go
        size_t total;
    } cases[] = {
        {1, {0, 128, 256}, 300},
        {0, {0, 64, 128}, 150},  // 64 units per chunk, one byte each
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.unicode);
        ReopenPort();
        p_->m_bUnicode = c.unicode;
        std::vector<size_t> seen;
        g_onAbort = [&] { seen.push_back(OutputSize()); };
        p_->m_lineBuf.m_lLineBufLen = -1;
        Write(std::u16string(150, u'a').c_str());
        p_->FlushLine();
        EXPECT_EQ(seen, c.sizesSeenByAbort);
        EXPECT_EQ(OutputSize(), c.total);
        // The emptied line starts with the font state again.
        EXPECT_EQ(LineUnits(), Esc("^N"));
    }
}

TEST_F(TextOutput, ConversionToThePortsBytes) {
    const struct {
        const char* what;
        BOOL unicode;
        std::string appended;  // buffer bytes (UTF-16LE units)
        std::string sent;
    } cases[] = {
        {"odd byte count: whole units only", 0, std::string("A\0B", 3), "A"},
        {"euro sign in code page 1252", 0, std::string("\xAC\x20", 2), "\x80"},
        {"umlauts", 0, std::string("G\0\xFC\0\xDF\0", 6), "G\xFC\xDF"},
        {"not in the code page", 0, std::string("\x16\x04", 2), "?"},
        {"unicode sends bytes unchanged", 1, std::string("A\0B", 3), std::string("A\0B", 3)},
        {"unicode escape value 27", 1, std::string("\x1b\0", 2), std::string("\x1b\0", 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ReopenPort();
        p_->m_bUnicode = c.unicode;
        p_->m_lineBuf.m_lLineBufLen = -1;
        p_->AppendToLine(c.appended.data(), static_cast<LONG>(c.appended.size()));
        p_->FlushLine();
        EXPECT_EQ(Output(), c.sent);
    }
}

TEST_F(TextOutput, UnicodeProfileSendsSequencesAsTwoBytesEach) {
    p_->m_bUnicode = 1;
    StartJob();
    Line(u"a");
    EXPECT_EQ(Output(), std::string("\x1b\0N\0\x1b\0N\0a\0\r\0\n\0", 14));
}

TEST_F(TextOutput, WhatWriteAndWriteBytesAppend) {
    BSTR withNul = SysAllocStringLen(u"ab\0cd", 5);
    BSTR crlf = SysAllocString(u"x\r\ny");
    BSTR two = SysAllocString(u"hi");
    const struct {
        const char* what;
        std::function<void()> call;
        LONG expectLen;
        std::string expectUnits;
    } cases[] = {
        {"null BSTR", [&] { ip_->Write(nullptr); }, -1, ""},
        {"empty BSTR", [&] { Write(u""); }, -1, ""},
        {"embedded NUL ends the text", [&] { ip_->Write(withNul); }, 4, "ab"},
        {"CR and LF are ordinary characters", [&] { ip_->Write(crlf); }, 8, "x\r\ny"},
        {"WriteBytes count 0", [&] { ip_->WriteBytes(two, 0); }, -1, ""},
        {"WriteBytes negative count", [&] { ip_->WriteBytes(two, -4); }, -1, ""},
        {"WriteBytes odd count", [&] { ip_->WriteBytes(two, 3); }, 3, "h"},
        {"WriteBytes past the string is clamped", [&] { ip_->WriteBytes(two, 1000); }, 4, "hi"},
        {"WriteBytes of a null BSTR", [&] { ip_->WriteBytes(nullptr, 10); }, -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        p_->m_lineBuf.m_lLineBufLen = -1;
        std::memset(p_->m_lineBuf.m_abLineBuf, 0xAA, sizeof p_->m_lineBuf.m_abLineBuf);
        c.call();
        EXPECT_EQ(p_->m_lineBuf.m_lLineBufLen, c.expectLen);
        EXPECT_EQ(LineUnits(), c.expectUnits);
        if (c.expectLen > 0) {  // the terminator follows the content
            EXPECT_EQ(p_->m_lineBuf.m_abLineBuf[c.expectLen], 0);
            EXPECT_EQ(p_->m_lineBuf.m_abLineBuf[c.expectLen + 1], 0);
            EXPECT_EQ(p_->m_lineBuf.m_abLineBuf[c.expectLen + 2], 0xAA);
        }
        EXPECT_EQ(LineNo(), 0);
    }
    SysFreeString(withNul);
    SysFreeString(crlf);
    SysFreeString(two);
    EXPECT_EQ(OutputSize(), 0u);
}

// The text is measured several units at a time: a NUL ends it wherever it
// falls in such a group, and units with a zero low or high byte do not.
TEST_F(TextOutput, WriteEndsAtTheFirstNulWhereverItFalls) {
    const char16_t units[] = {0x0100, 0x8000, 0xFFFF, 0x0001, u'a', 0x0080, 0xFF00};
    for (size_t length = 1; length <= 40; ++length) {
        for (size_t nul = 0; nul <= length; ++nul) {  // nul == length: none
            std::u16string text;
            for (size_t i = 0; i < length; ++i) text += i == nul ? u'\0' : units[(i + nul) % std::size(units)];
            SCOPED_TRACE(testing::Message() << "length " << length << ", NUL at " << nul);
            p_->m_lineBuf.m_lLineBufLen = -1;
            std::memset(p_->m_lineBuf.m_abLineBuf, 0xAA, sizeof p_->m_lineBuf.m_abLineBuf);
            BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            ip_->Write(b);
            SysFreeString(b);
            const LONG expected = nul == 0 ? -1 : static_cast<LONG>(nul * 2);
            ASSERT_EQ(p_->m_lineBuf.m_lLineBufLen, expected);
            EXPECT_EQ(std::memcmp(p_->m_lineBuf.m_abLineBuf, text.data(), nul * 2), 0);
            // Copied in blocks, but nothing past the text and its terminator.
            EXPECT_EQ(p_->m_lineBuf.m_abLineBuf[nul == 0 ? 0 : nul * 2 + 2], 0xAA);
        }
    }
}

TEST_F(TextOutput, NoJobDropsDataAndStillSucceeds) {
    p_->m_bPrinting = 0;
    p_->SetError(static_cast<HRESULT>(0x80040D04), u"CPressel::No printer DC..", 11);
    Write(u"lost");
    EXPECT_EQ(LastError(), 0);
    p_->SetError(static_cast<HRESULT>(0x80040D04), u"CPressel::No printer DC..", 11);
    WriteBytes(ip_, "lost", 4);
    EXPECT_EQ(LastError(), 0);
    EXPECT_EQ(p_->m_lineBuf.m_lLineBufLen, -1);
    p_->SendCharRun(u'x', 10);
    p_->SendDirect("abc", 3, 0);
    // A flush without a job sends nothing and still empties the line.
    p_->m_lineBuf.m_lLineBufLen = -1;
    p_->AppendToLine(u"zz", 4);
    p_->FlushLine();
    EXPECT_EQ(p_->m_lineBuf.m_lLineBufLen, -1);
    EXPECT_EQ(g_abortCalls, 0);
    EXPECT_EQ(OutputSize(), 0u);
    SetErrorInfo(0, nullptr);
}

TEST_F(TextOutput, PortFailureMidLineStopsTheJobWithOneNotification) {
    p_->m_bUnicode = 1;
    Write(std::u16string(150, u'a').c_str());
    HANDLE port = reinterpret_cast<HANDLE>(static_cast<intptr_t>(p_->m_hPort));
    g_onAbort = [&] {
        if (g_abortCalls == 2) CloseHandle(port);  // the second chunk finds the port gone
    };
    EXPECT_EQ(ip_->NewLine(), S_OK);
    EXPECT_EQ(LastError(), 0);
    EXPECT_EQ(OutputSize(), 128u);
    EXPECT_EQ(g_abortCalls, 2);
    EXPECT_FALSE(StillPrinting());
    EXPECT_EQ(sink_.notifications, (std::vector<std::pair<LONG, LONG>>{{1, 2}}));
    EXPECT_EQ(p_->m_lineBuf.m_lLineBufLen, -1);
    // Nothing more is sent or reported.
    Line(u"more");
    p_->SendCharRun(u'z', 5);
    EXPECT_EQ(sink_.notifications.size(), 1u);
    p_->m_hPort = -1;
}

TEST_F(TextOutput, AbortProcedureSayingStopEndsTheLineQuietly) {
    Write(std::u16string(150, u'a').c_str());
    g_onAbort = [&] { g_abortAnswer = g_abortCalls < 2; };
    p_->FlushLine();
    EXPECT_EQ(OutputSize(), 64u);
    EXPECT_FALSE(StillPrinting());
    EXPECT_TRUE(sink_.notifications.empty());
}

TEST_F(TextOutput, HandlersWritingDuringAFlushDisturbNeitherLine) {
    StartJob();
    Write(std::u16string(100, u'a').c_str());  // two chunks
    g_onAbort = [&] {
        if (g_abortCalls == 3) Write(u"later");  // between the two chunks
    };
    EXPECT_EQ(ip_->NewLine(), S_OK);
    g_onAbort = nullptr;
    Line(u"");
    EXPECT_EQ(Output(), Esc("^N^N") + std::string(100, 'a') + "\r\n" + Esc("^Nlater\r\n"));
}

TEST_F(TextOutput, ALineLongerThanTheBufferIsSentWhole) {
    ParseSeq(u"", &p_->m_seqNormalFont);  // the stream is then exactly the text
    const struct {
        const char* what;
        std::vector<size_t> writes;
    } cases[] = {
        {"one long write", {10000}},
        {"many writes across the boundary", {3000, 3000, 3000, 3000, 1}},
        {"exactly full", {4095}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ReopenPort();
        std::string expect;
        char letter = 'a';
        for (size_t n : c.writes) {
            Write(std::u16string(n, static_cast<char16_t>(letter)).c_str());
            expect += std::string(n, letter++);
        }
        EXPECT_EQ(ip_->NewLine(), S_OK);
        EXPECT_EQ(Output(), expect + "\r\n");
    }
}

TEST_F(TextOutput, OverflowKeepsUnitsPairedAfterAnOddByte) {
    ParseSeq(u"", &p_->m_seqNormalFont);
    WriteBytes(ip_, "A", 1);
    std::string units(1, '\0');
    for (int i = 0; i < 4100; ++i) units += std::string("B\0", 2);
    WriteBytes(ip_, units, static_cast<LONG>(units.size()));
    p_->FlushLine();
    EXPECT_EQ(Output(), "A" + std::string(4100, 'B'));
}

TEST_F(TextOutput, CharacterRunsGoStraightToThePort) {
    const struct {
        WCHAR unit;
        LONG count;
        BOOL unicode;
        std::string sent;
    } cases[] = {
        {0, 300, 0, std::string(300, '\0')},
        {0x141, 3, 0, "AAA"},  // the low byte only
        {u'A', 3, 1, std::string("A\0A\0A\0", 6)},
        {u'A', 0, 0, ""},
        {u'A', -5, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        ReopenPort();
        p_->m_bUnicode = c.unicode;
        Write(u"stays");
        p_->SendCharRun(c.unit, c.count);
        EXPECT_EQ(Output(), c.sent);
        EXPECT_EQ(LineUnits(), "stays");  // the line buffer is bypassed
        p_->m_lineBuf.m_lLineBufLen = -1;
    }
    EXPECT_EQ(g_abortCalls, 0);
}

TEST_F(TextOutput, SendDirectValuesAndRawBytes) {
    std::vector<WCHAR> many(300);
    for (size_t i = 0; i < many.size(); ++i) many[i] = static_cast<WCHAR>(0x100 + i);
    std::string manyLow;
    for (WCHAR w : many) manyLow += static_cast<char>(w & 0xFF);
    const struct {
        const char* what;
        BOOL unicode;
        const void* data;
        LONG bytes;
        BOOL asValues;
        std::string sent;
    } cases[] = {
        {"values narrowed", 0, u"\x1b\x140", 4, 1, "\x1b@"},
        {"values in unicode", 1, u"\x1b\x140", 4, 1, std::string("\x1b\0\x40\x01", 4)},
        {"raw bytes unchanged", 0, "\x01\x00\xFF", 3, 0, std::string("\x01\x00\xFF", 3)},
        {"more values than one block", 0, many.data(), 600, 1, manyLow},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ReopenPort();
        p_->m_bUnicode = c.unicode;
        p_->SendDirect(c.data, c.bytes, c.asValues);
        EXPECT_EQ(Output(), c.sent);
    }
}

TEST_F(TextOutput, CharacterRunFailureIsReportedOnce) {
    ClosePort();
    p_->m_hPort = 999999;  // no such handle
    p_->SendCharRun(0, 300);
    EXPECT_FALSE(StillPrinting());
    EXPECT_EQ(sink_.notifications, (std::vector<std::pair<LONG, LONG>>{{1, 2}}));
    p_->m_hPort = -1;
}

}  // namespace
}  // namespace text_test
