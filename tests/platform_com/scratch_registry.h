// Each test gets its own registry store in a fresh temporary directory.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "pressel/registry.h"
#include "windows.h"

class ScratchRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/pressel-com-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        setenv("PRESSEL_REGISTRY", (dir_ + "/registry.reg").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("PRESSEL_REGISTRY");
        std::filesystem::remove_all(dir_);
    }

    void Import(const std::string& text) {
        std::string message;
        ASSERT_EQ(pressel_registry::Import("Windows Registry Editor Version 5.00\n\n" + text, &message),
                  ERROR_SUCCESS)
            << message;
    }
    // The subtree of a key as .reg text without its header; "" when absent.
    std::string Export(const std::string& key) {
        std::string text;
        if (pressel_registry::Export(key, &text) != ERROR_SUCCESS) return "";
        size_t first = text.find('[');
        return first == std::string::npos ? "" : text.substr(first);
    }

    std::string dir_;
};

// Default or named value as UTF-8, "<absent>" when missing.
inline std::string RegText(HKEY root, const char16_t* path, const char16_t* name = nullptr) {
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<absent>";
    WCHAR buf[1024] = {};
    DWORD size = sizeof buf - 2, type = 0;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return "<absent>";
    std::string out;
    for (const WCHAR* p = buf; *p; ++p) out += *p < 0x80 ? char(*p) : '?';
    return out;
}

inline bool KeyExists(HKEY root, const char16_t* path) {
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}
