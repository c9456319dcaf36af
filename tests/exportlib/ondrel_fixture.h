// Loads libondrel.so afresh for every test (dlopen/dlclose), as a managed
// application loads it, and resolves its exports by name.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "Ondrel.h"

struct OndrelExports {
#define ONDREL_EXPORT(name) decltype(&::name) name = nullptr;
#include "ondrel_exports.inc"
#undef ONDREL_EXPORT
};

class OndrelLibrary {
public:
    bool Load() {
        handle_ = dlopen(PRESSEL_LIB_DIR "/libondrel.so", RTLD_NOW | RTLD_LOCAL);
        if (!handle_) return false;
#define ONDREL_EXPORT(name) \
    fn.name = reinterpret_cast<decltype(fn.name)>(dlsym(handle_, #name)); \
    if (!fn.name) return false;
#include "ondrel_exports.inc"
#undef ONDREL_EXPORT
        return true;
    }
    // True when the library really left the process.
    bool Unload() {
        if (!handle_) return true;
        dlclose(handle_);
        handle_ = nullptr;
        return dlopen(PRESSEL_LIB_DIR "/libondrel.so", RTLD_NOW | RTLD_NOLOAD) == nullptr;
    }
    bool loaded() const { return handle_ != nullptr; }
    ~OndrelLibrary() { Unload(); }

    OndrelExports fn;

private:
    void* handle_ = nullptr;
};

class OndrelTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(lib_.Load()) << dlerror(); }
    OndrelLibrary lib_;
    const OndrelExports& fn = lib_.fn;
};
