// A control set up as a running job whose port is a recording port library:
// every write the control makes is kept as it was made (bytes and address),
// and a test can fail a chosen write or act after it.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "control/Pressel.h"
#include "port/PortState.h"
#include "win/base.h"

#include "event_sink.h"
#include "test_support.h"

namespace print_test {

using Pair = std::pair<LONG, LONG>;
using Pixel = std::function<bool(int x, int y)>;  // true: black; y from the top

using test_support::Esc;
using test_support::Wide;

// A bottom-up 24-bit BMP file of black and white pixels.
inline std::string Bmp24(int w, int h, const Pixel& black) {
    auto put = [](std::string& f, uint32_t x, int bytes) {
        for (int i = 0; i < bytes; ++i) f.push_back(static_cast<char>((x >> (8 * i)) & 0xFF));
    };
    const uint32_t stride = (static_cast<uint32_t>(w) * 3 + 3) & ~3u;
    std::string f = "BM";
    put(f, 54 + stride * static_cast<uint32_t>(h), 4), put(f, 0, 4), put(f, 54, 4);
    put(f, 40, 4), put(f, static_cast<uint32_t>(w), 4), put(f, static_cast<uint32_t>(h), 4), put(f, 1, 2), put(f, 24, 2);
    f.append(24, '\0');  // compression, image size, resolutions, colours
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) f.append(3, black(x, y) ? '\0' : '\xFF');
        f.append(stride - static_cast<uint32_t>(w) * 3, '\0');
    }
    return f;
}

// What the port received, write by write.
struct Recorder {
    std::vector<std::string> writes;
    std::vector<const BYTE*> addresses;
    int failAt = -1;                       // index of the write that fails
    std::function<void(int index)> after;  // runs after each write
};
inline Recorder* g_recorder = nullptr;

inline BOOL RecordingSend(LONG, const BYTE* pb, DWORD cb) {
    Recorder& r = *g_recorder;
    int index = static_cast<int>(r.writes.size());
    bool ok = index != r.failAt;
    r.writes.push_back(ok ? std::string(reinterpret_cast<const char*>(pb), cb) : "<failed>");
    r.addresses.push_back(pb);
    if (r.after) r.after(index);
    return ok;
}

class NotifySink final : public test_support::EventSinkBase {
public:
    std::vector<Pair> notifications;
    int headerEvents = 0;

protected:
    void OnEvent(DISPID id, DISPPARAMS* dp) override {
        if (id == DISPID_NotifyMessage) notifications.emplace_back(dp->rgvarg[1].lVal, dp->rgvarg[0].lVal);
        if (id == DISPID_HeaderEvent) ++headerEvents;
    }
};

class PrintFixture : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test_support::MakeScratchDir("pressel-bmprint");
        ASSERT_FALSE(dir_.empty());

        ASSERT_EQ(CPressel::CreateInstance(IID_IPressel, reinterpret_cast<void**>(&ip_)), S_OK);
        p_ = static_cast<CPressel*>(ip_);
        ASSERT_EQ(test_support::ConnectSink(ip_, &sink_, &cp_, &cookie_), S_OK);

        savedLib_ = port::g_portLib;
        port::g_portLib.pfnSend = RecordingSend;
        g_recorder = &rec_;
        p_->m_hPort = 41;
        p_->m_bFilePort = 0;
        p_->m_bPortLibUser = 1;
        p_->m_bPrinting = 1;
    }

    void TearDown() override {
        p_->m_bPrinting = 0;
        p_->m_hPort = -1;
        p_->m_bPortLibUser = 0;
        port::g_portLib = savedLib_;
        g_recorder = nullptr;
        cp_->Unadvise(cookie_);
        cp_->Release();
        EXPECT_EQ(ip_->Release(), 0u);
        test_support::RemoveScratchDir(dir_);
    }

    void Geometry(LONG pins, LONG xDots, LONG charHeight, LONG charWidth) {
        p_->m_lGraphNumPins = pins;
        p_->m_lGraphXDots = xDots;
        p_->m_lGraphCharHeight = charHeight;
        p_->m_lGraphCharWidth = charWidth;
    }
    void Sequences(const char16_t* init, const char16_t* prefix, const char16_t* postfix, const char16_t* exit) {
        ParseSeq(init, &p_->m_seqGraphModeInit);
        ParseSeq(prefix, &p_->m_seqGraphPrefix);
        ParseSeq(postfix, &p_->m_seqGraphPostfix);
        ParseSeq(exit, &p_->m_seqGraphModeExit);
    }

    std::string Image(int w, int h, const Pixel& black, const std::string& name = "image.bmp") {
        std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << Bmp24(w, h, black);
        return path;
    }

    HRESULT Print(LONG startCol, LONG height, LONG width, const std::string& path) {
        BSTR bs = SysAllocString(Wide(path).c_str());
        HRESULT hr = ip_->Bitmap(startCol, height, width, bs);
        SysFreeString(bs);
        return hr;
    }

    std::string All() const {
        std::string s;
        for (const auto& w : rec_.writes) s += w;
        return s;
    }
    LONG LastError() const {
        LONG l = 1;
        ip_->get_LastError(&l);
        return l;
    }
    LONG MethodId() const {
        LONG l = -1;
        ip_->get_ErrorMethodID(&l);
        return l;
    }
    bool StillPrinting() const {
        VARIANT_BOOL b = VARIANT_FALSE;
        ip_->get_StillPrinting(&b);
        return b == VARIANT_TRUE;
    }

    std::filesystem::path dir_;
    IPressel* ip_ = nullptr;
    CPressel* p_ = nullptr;
    IConnectionPoint* cp_ = nullptr;
    DWORD cookie_ = 0;
    NotifySink sink_;
    Recorder rec_;
    port::PortLibrary savedLib_{};
};

}  // namespace print_test
