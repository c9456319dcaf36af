// The real port library, loaded with dlopen as the control loads it.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "plugins/farsend/farsend.h"

class FarsendLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = dlopen(PRESSEL_LIB_DIR "/libfarsend.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module_, nullptr) << dlerror();
        open_ = reinterpret_cast<PFN_PRINTEROPEN>(dlsym(module_, "PrinterOpen"));
        send_ = reinterpret_cast<PFN_PRINTERSEND>(dlsym(module_, "PrinterSend"));
        close_ = reinterpret_cast<PFN_PRINTERCLOSE>(dlsym(module_, "PrinterClose"));
        ASSERT_TRUE(open_ && send_ && close_);
    }
    void TearDown() override {
        if (module_) dlclose(module_);
    }

    void* module_ = nullptr;
    PFN_PRINTEROPEN open_ = nullptr;
    PFN_PRINTERSEND send_ = nullptr;
    PFN_PRINTERCLOSE close_ = nullptr;
};
