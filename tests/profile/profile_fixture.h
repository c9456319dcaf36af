// Scratch files and a scratch registry store for the profile tests.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace profile_test {

// A private directory per test; PRESSEL_REGISTRY points into it, so every
// test starts with an empty registry.
class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "pressel-profile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        m_registry = (m_dir / "registry.reg").string();
        setenv("PRESSEL_REGISTRY", m_registry.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    std::string WriteFile(const std::string& name, const std::string& bytes) {
        std::string path = (m_dir / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    std::filesystem::path m_dir;
    std::string m_registry;
};

}  // namespace profile_test
