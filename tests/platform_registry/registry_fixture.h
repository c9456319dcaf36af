// Each test gets its own store file in a fresh temporary directory.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "pressel/registry.h"
#include "windows.h"
#include "win/registry.h"

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/pressel-reg-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/sub/registry.reg";  // the directory is made on first write
        setenv("PRESSEL_REGISTRY", path_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("PRESSEL_REGISTRY");
        std::filesystem::remove_all(dir_);
    }

    void Import(const std::string& text) {
        std::string message;
        ASSERT_EQ(pressel_registry::Import(text, &message), ERROR_SUCCESS) << message;
    }
    std::string Export(const std::string& key = "") {
        std::string text;
        EXPECT_EQ(pressel_registry::Export(key, &text), ERROR_SUCCESS) << key;
        return text;
    }
    std::string FileBytes() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    void WriteFile(const std::string& bytes) const {
        std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
        std::ofstream(path_, std::ios::binary) << bytes;
    }

    std::string dir_, path_;
};

// Reads a value as UTF-16 text (terminator dropped), or reports the error.
inline std::u16string QueryString(HKEY key, const WCHAR* name, LONG* rc = nullptr) {
    WCHAR buf[512] = {};
    DWORD size = sizeof buf - sizeof(WCHAR), type = 0;
    LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    if (rc) *rc = r;
    if (r != ERROR_SUCCESS) return u"<error>";
    return std::u16string(buf);
}

inline std::string Narrow(const char16_t* s) {
    std::string out;
    for (; *s; ++s) out += *s < 0x80 ? char(*s) : '?';
    return out;
}
