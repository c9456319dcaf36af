// Scratch files and a scratch registry store for the profile tests.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "test_support.h"

namespace profile_test {

// A private directory per test; PRESSEL_REGISTRY points into it, so every
// test starts with an empty registry.
class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = test_support::MakeScratchDir("pressel-profile");
        ASSERT_FALSE(m_dir.empty());
        m_registry = (m_dir / "registry.reg").string();
    }
    void TearDown() override { test_support::RemoveScratchDir(m_dir); }

    std::string WriteFile(const std::string& name, const std::string& bytes) {
        std::string path = (m_dir / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    std::filesystem::path m_dir;
    std::string m_registry;
};

}  // namespace profile_test
