// The test server registered (classes and type library) in a scratch
// registry, with an apartment for the test's thread.
#pragma once

#include <string>

#include "scratch_registry.h"
#include "tests/platform_com/test_calc.h"
#include "win/objbase.h"

inline const std::string kServerPath = PRESSEL_LIB_DIR "/libpressel_test_server.so";

inline std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

inline std::string Narrow(const OLECHAR* s) {
    std::string out;
    for (; s && *s; ++s) out += *s < 0x80 ? char(*s) : '?';
    return out;
}

class RegisteredServer : public ScratchRegistry {
protected:
    void SetUp() override {
        ScratchRegistry::SetUp();
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        module_ = LoadLibraryW(Wide(kServerPath).c_str());
        ASSERT_NE(module_, nullptr);
        auto reg = reinterpret_cast<HRESULT (*)()>(
            reinterpret_cast<void*>(GetProcAddressW(module_, u"DllRegisterServer")));
        ASSERT_NE(reg, nullptr);
        ASSERT_EQ(reg(), S_OK);
    }
    void TearDown() override {
        FreeLibrary(module_);
        CoUninitialize();
        ScratchRegistry::TearDown();
    }

    HMODULE module_ = nullptr;
};
