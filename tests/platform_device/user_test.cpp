// Message boxes, system message texts and local memory.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "pressel/hooks.h"
#include "user/error_texts.h"
#include "win/base.h"
#include "win/user.h"

namespace {

constexpr DWORD kSystem = FORMAT_MESSAGE_FROM_SYSTEM;
constexpr DWORD kAllocate = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;

std::u16string Allocated(DWORD flags, DWORD code, DWORD* length) {
    LPWSTR text = reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(0xAAAA));
    *length = FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    if (!text) return u"<null>";
    std::u16string result(text);
    EXPECT_EQ(LocalFree(text), nullptr);
    return result;
}

TEST(FormatMessage, SystemTextsOfErrorCodes) {
    struct Case {
        DWORD flags;
        DWORD code;
        const char16_t* text;
    } cases[] = {
        {kAllocate, ERROR_FILE_NOT_FOUND, u"The system cannot find the file specified.\r\n"},
        {kAllocate, ERROR_MOD_NOT_FOUND, u"The specified module could not be found.\r\n"},
        {kAllocate | FORMAT_MESSAGE_IGNORE_INSERTS, ERROR_ACCESS_DENIED, u"Access is denied.\r\n"},
        {kAllocate | FORMAT_MESSAGE_MAX_WIDTH_MASK, ERROR_DEVICE_IN_USE,
         u"The device is in use by an active process and cannot be disconnected. "},
    };
    for (const auto& c : cases) {
        DWORD length = 0;
        std::u16string text = Allocated(c.flags, c.code, &length);
        EXPECT_EQ(text, c.text) << c.code;
        EXPECT_EQ(length, text.size()) << c.code;
    }
}

TEST(FormatMessage, Failures) {
    struct Case {
        const char* what;
        DWORD flags;
        DWORD code;
        DWORD language;
        DWORD error;
    } cases[] = {
        {"unknown code", kAllocate, 9999, 0, ERROR_MR_MID_NOT_FOUND},
        {"other language", kAllocate, 2, MAKELANGID(0x07, SUBLANG_DEFAULT), ERROR_RESOURCE_LANG_NOT_FOUND},
        {"caller's string", kAllocate | FORMAT_MESSAGE_FROM_STRING, 2, 0, ERROR_CALL_NOT_IMPLEMENTED},
        {"module table", FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE, 2, 0,
         ERROR_CALL_NOT_IMPLEMENTED},
        {"wrapping", kAllocate | 40, 2, 0, ERROR_CALL_NOT_IMPLEMENTED},
    };
    for (const auto& c : cases) {
        LPWSTR text = reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(0xAAAA));
        SetLastError(0xDEADBEEF);
        EXPECT_EQ(FormatMessageW(c.flags, nullptr, c.code, c.language, reinterpret_cast<LPWSTR>(&text), 0, nullptr),
                  0u)
            << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
        EXPECT_EQ(text, nullptr) << c.what;  // safe to LocalFree
    }
    DWORD length = 0;
    EXPECT_EQ(Allocated(kAllocate, 2, &length).size(), length);
    EXPECT_EQ(Allocated(kAllocate, 2, &length), Allocated(kAllocate, 2, &length));
}

TEST(FormatMessage, CallersBuffer) {
    const std::u16string expected = u"The handle is invalid.\r\n";
    WCHAR buffer[64];
    std::fill(std::begin(buffer), std::end(buffer), u'\xAAAA');
    DWORD exact = static_cast<DWORD>(expected.size() + 1);
    EXPECT_EQ(FormatMessageW(kSystem, nullptr, ERROR_INVALID_HANDLE, 0, buffer, exact, nullptr), expected.size());
    EXPECT_EQ(std::u16string(buffer), expected);
    EXPECT_EQ(buffer[exact], u'\xAAAA');

    SetLastError(0xDEADBEEF);
    EXPECT_EQ(FormatMessageW(kSystem, nullptr, ERROR_INVALID_HANDLE, 0, buffer, exact - 1, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    SetLastError(0xDEADBEEF);
    EXPECT_EQ(FormatMessageW(kSystem, nullptr, ERROR_INVALID_HANDLE, 0, nullptr, 64, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(FormatMessage, TableTextsAreSingleLinesWithoutInserts) {
    for (const auto& entry : platform::ErrorTexts()) {
        std::u16string text = entry.text;
        EXPECT_FALSE(text.empty()) << entry.code;
        EXPECT_EQ(text.find_first_of(u"%\r\n"), std::u16string::npos) << entry.code;
        EXPECT_EQ(platform::FindErrorText(entry.code), entry.text);
    }
}

TEST(MessageBox, HookSeesEveryBox) {
    struct Box {
        HWND owner;
        std::u16string text, caption;
        UINT type;
    };
    std::vector<Box> boxes;
    auto previous = pressel_hooks::SetMessageBoxHook([&](HWND owner, std::u16string text, std::u16string caption,
                                                         UINT type) {
        boxes.push_back({owner, std::move(text), std::move(caption), type});
        return IDCANCEL;
    });
    auto owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
    EXPECT_EQ(MessageBoxW(owner, u"[LPT9:] CreateFile Error = 2", u"Error", MB_ICONINFORMATION), IDCANCEL);
    EXPECT_EQ(MessageBoxW(nullptr, nullptr, nullptr, MB_OK), IDCANCEL);
    pressel_hooks::SetMessageBoxHook(std::move(previous));

    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].owner, owner);
    EXPECT_EQ(boxes[0].text, u"[LPT9:] CreateFile Error = 2");
    EXPECT_EQ(boxes[0].caption, u"Error");
    EXPECT_EQ(boxes[0].type, MB_ICONINFORMATION);
    EXPECT_EQ(boxes[1].text, u"");
    EXPECT_EQ(boxes[1].caption, u"Error");  // Windows' caption for none
}

TEST(MessageBox, WithoutHookWritesToStandardError) {
    testing::internal::CaptureStderr();
    int answer = MessageBoxW(nullptr, u"The specified module could not be found.\r\n", u"Fehler \u00e4",
                             MB_ICONINFORMATION);
    std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(written, "[Fehler \xc3\xa4] The specified module could not be found.\n");
}

TEST(LocalMemory, FixedBlocks) {
    auto* block = static_cast<unsigned char*>(LocalAlloc(LPTR, 64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0) << i;
    EXPECT_EQ(LocalFree(block), nullptr);
    void* empty = LocalAlloc(LMEM_FIXED, 0);
    EXPECT_NE(empty, nullptr);
    LocalFree(empty);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
    SetLastError(0xDEADBEEF);
    EXPECT_EQ(LocalAlloc(LMEM_MOVEABLE, 16), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
}

}  // namespace
