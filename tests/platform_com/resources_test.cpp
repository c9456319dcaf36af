// Resources and version information read back from a library built with them.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "windows.h"

namespace {

const std::u16string kProbe = u"" PRESSEL_LIB_DIR "/libpressel_rsrc_probe.so";

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ResourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryW(reinterpret_cast<LPCWSTR>(kProbe.c_str()));
        ASSERT_NE(module_, nullptr) << GetLastError();
    }
    void TearDown() override { FreeLibrary(module_); }

    std::string Read(LPCWSTR name, LPCWSTR type) {
        HRSRC found = FindResourceW(module_, name, type);
        if (!found) return "<missing " + std::to_string(GetLastError()) + ">";
        HGLOBAL loaded = LoadResource(module_, found);
        EXPECT_NE(loaded, nullptr);
        return std::string(static_cast<const char*>(LockResource(loaded)), SizeofResource(module_, found));
    }

    HMODULE module_ = nullptr;
};

TEST_F(ResourcesTest, FindsByNumberNameAndCaseInsensitiveType) {
    const std::string first = FileBytes(PRESSEL_SOURCE_DIR "/tests/platform_com/data/first.txt");
    const std::string second = FileBytes(PRESSEL_SOURCE_DIR "/tests/platform_com/data/second.bin");
    struct Case {
        LPCWSTR name, type;
        std::string expected;
    } cases[] = {
        {MAKEINTRESOURCE(7), u"TESTDATA", first},
        {MAKEINTRESOURCE(7), u"testdata", first},
        {u"#7", u"TestData", first},
        {u"second", RT_RCDATA, second},
        {u"SECOND", u"#10", second},
        {MAKEINTRESOURCE(8), u"TESTDATA", ""},  // from a second pressel_add_resources call
    };
    for (const Case& c : cases) EXPECT_EQ(Read(c.name, c.type), c.expected);
}

TEST_F(ResourcesTest, MissingTypeAndNameAreTold) {
    SetLastError(0xDEADBEEF);
    EXPECT_EQ(FindResourceW(module_, MAKEINTRESOURCE(9), u"TESTDATA"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(FindResourceW(module_, MAKEINTRESOURCE(7), u"NOSUCHTYPE"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND));
    EXPECT_EQ(FindResourceW(module_, MAKEINTRESOURCE(7), RT_BITMAP), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND));
    // The test program itself carries no resource section.
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCE(1), RT_VERSION), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_DATA_NOT_FOUND));
}

TEST(VersionInfo, ReadsFixedInfoStringsAndTranslationFromTheFile) {
    DWORD handle = 0xAAAA;
    DWORD size = GetFileVersionInfoSizeW(reinterpret_cast<LPCWSTR>(kProbe.c_str()), &handle);
    ASSERT_GT(size, 0u) << GetLastError();
    EXPECT_EQ(handle, 0u);
    std::string block(size, '\xAA');
    ASSERT_TRUE(GetFileVersionInfoW(reinterpret_cast<LPCWSTR>(kProbe.c_str()), 0, size, block.data()));

    void* value = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\", &value, &len));
    ASSERT_EQ(len, sizeof(VS_FIXEDFILEINFO));
    auto* fixed = static_cast<VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwSignature, VS_FFI_SIGNATURE);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x0001000Eu);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00020003u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x0001000Eu);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, VFT_DLL);
    EXPECT_EQ(fixed->dwFileOS, VOS__WINDOWS32);

    struct Case {
        const char16_t* path;
        std::u16string expected;
    } cases[] = {
        {u"\\StringFileInfo\\040904B0\\FileDescription", u"Probe Library"},
        {u"\\StringFileInfo\\040904b0\\productname", u"Probe Suite"},
        {u"\\StringFileInfo\\040904B0\\Comments", u"Certified."},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(VerQueryValueW(block.data(), c.path, &value, &len));
        EXPECT_EQ(std::u16string(static_cast<char16_t*>(value)), c.expected);
        EXPECT_EQ(len, c.expected.size() + 1);
    }
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\VarFileInfo\\Translation", &value, &len));
    ASSERT_EQ(len, 4u);
    EXPECT_EQ(*static_cast<DWORD*>(value), 0x04B00409u);
    EXPECT_FALSE(VerQueryValueW(block.data(), u"\\StringFileInfo\\040904B0\\LegalCopyright", &value, &len));
}

TEST(VersionInfo, FilesWithoutVersionInformation) {
    struct Case {
        std::u16string path;
        DWORD error;
    } cases[] = {
        {u"/nonexistent/lib.so", ERROR_FILE_NOT_FOUND},
        {u"" PRESSEL_SOURCE_DIR "/tests/platform_com/data/first.txt", ERROR_BAD_FORMAT},
        {u"" PRESSEL_LIB_DIR "/libpressel-platform.so", ERROR_RESOURCE_DATA_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(GetFileVersionInfoSizeW(reinterpret_cast<LPCWSTR>(c.path.c_str()), nullptr), 0u);
        EXPECT_EQ(GetLastError(), c.error);
    }
    char small[8];
    EXPECT_FALSE(GetFileVersionInfoW(reinterpret_cast<LPCWSTR>(kProbe.c_str()), 0, sizeof small, small));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace
