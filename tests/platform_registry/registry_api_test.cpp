// The Win32 contract of the Reg* calls: results, last errors, sizes, and
// what is left alone in caller buffers (prefilled with 0xAA).
#include <cstring>
#include <vector>

#include "registry_fixture.h"

namespace {

constexpr DWORD kSentinelError = 0xDEADBEEF;

class RegistryApiTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        Import("Windows Registry Editor Version 5.00\n"
               "[HKEY_CURRENT_USER\\Software\\Quendrix\\Printers\\Alpha]\n"
               "\"EntryName\"=\"COM1\"\n"
               "\"Count\"=dword:0000003c\n"
               "\"Raw\"=hex:01,02,03\n"
               "[HKEY_CURRENT_USER\\Software\\Quendrix\\Printers\\beta]\n"
               "[HKEY_CURRENT_USER\\Software\\Quendrix\\Printers\\Gamma]\n"
               "@=\"default\"\n");
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"software\\QUENDRIX\\Printers", 0, KEY_ALL_ACCESS, &printers_),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        if (printers_) RegCloseKey(printers_);
        RegistryTest::TearDown();
    }
    HKEY printers_ = nullptr;
};

TEST_F(RegistryApiTest, OpenResultsAndLastErrors) {
    struct Case {
        HKEY root;
        const WCHAR* subkey;
        LONG expected;
    } cases[] = {
        {HKEY_CURRENT_USER, u"Software\\Quendrix\\Printers\\Alpha", ERROR_SUCCESS},
        {HKEY_CURRENT_USER, u"SOFTWARE\\quendrix\\printers\\ALPHA\\", ERROR_SUCCESS},  // any case, trailing '\'
        {HKEY_CURRENT_USER, u"", ERROR_SUCCESS},
        {HKEY_CURRENT_USER, nullptr, ERROR_SUCCESS},
        {HKEY_LOCAL_MACHINE, u"Software\\Quendrix", ERROR_FILE_NOT_FOUND},  // other hive
        {HKEY_CURRENT_USER, u"Software\\Nothing", ERROR_FILE_NOT_FOUND},
        {HKEY_CURRENT_USER, u"Software\\\\Quendrix", ERROR_INVALID_PARAMETER},
        {HKEY_USERS, u"Software", ERROR_INVALID_HANDLE},
        {reinterpret_cast<HKEY>(0x1234), u"Software", ERROR_INVALID_HANDLE},
    };
    for (const auto& c : cases) {
        HKEY key = reinterpret_cast<HKEY>(0xAAAA);
        SetLastError(kSentinelError);
        LONG rc = RegOpenKeyExW(c.root, c.subkey, 0, KEY_READ, &key);
        EXPECT_EQ(rc, c.expected) << (c.subkey ? Narrow(c.subkey) : "(null)");
        if (rc == ERROR_SUCCESS) {
            EXPECT_EQ(GetLastError(), kSentinelError);
            EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
            EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);  // a real handle, released once
        } else {
            EXPECT_EQ(key, nullptr);
            EXPECT_EQ(GetLastError(), DWORD(rc));
        }
    }
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryApiTest, QuerySizesAndShortBuffers) {
    HKEY alpha;
    ASSERT_EQ(RegOpenKeyExW(printers_, u"Alpha", 0, KEY_READ, &alpha), ERROR_SUCCESS);
    struct Case {
        const WCHAR* name;
        DWORD capacity;  // bytes offered; ~0u: null data pointer
        LONG expected;
        DWORD type, size;
    } cases[] = {
        {u"EntryName", ~0u, ERROR_SUCCESS, REG_SZ, 10},  // "COM1" + terminator
        {u"EntryName", 10, ERROR_SUCCESS, REG_SZ, 10},
        {u"EntryName", 9, ERROR_MORE_DATA, REG_SZ, 10},
        {u"entryname", 64, ERROR_SUCCESS, REG_SZ, 10},
        {u"Count", 4, ERROR_SUCCESS, REG_DWORD, 4},
        {u"Count", 3, ERROR_MORE_DATA, REG_DWORD, 4},
        {u"Raw", 0, ERROR_MORE_DATA, REG_BINARY, 3},
        {u"Missing", 64, ERROR_FILE_NOT_FOUND, 0xAAAAAAAA, 64},
    };
    for (const auto& c : cases) {
        std::vector<BYTE> buf(80, 0xAA);
        DWORD type = 0xAAAAAAAA, size = c.capacity == ~0u ? 0xAAAAAAAA : c.capacity;
        LONG rc = RegQueryValueExW(alpha, c.name, nullptr, &type, c.capacity == ~0u ? nullptr : buf.data(), &size);
        EXPECT_EQ(rc, c.expected);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(size, c.size);
        // Nothing written past the data, nothing at all when it did not fit.
        size_t written = rc == ERROR_SUCCESS && c.capacity != ~0u ? c.size : 0;
        for (size_t i = written; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0xAA) << i;
    }
    DWORD size = 4;
    EXPECT_EQ(RegQueryValueExW(alpha, u"Count", nullptr, nullptr, reinterpret_cast<BYTE*>(&size), nullptr),
              ERROR_INVALID_PARAMETER);
    DWORD value = 0;
    size = sizeof value;
    ASSERT_EQ(RegQueryValueExW(alpha, u"Count", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 60u);
    RegCloseKey(alpha);
}

TEST_F(RegistryApiTest, StringTerminators) {
    // Stored as given: with its terminator it counts; without, the reader
    // still gets a terminated string when the buffer has room.
    ASSERT_EQ(RegSetValueExW(printers_, u"With", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"abc"), 8), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(printers_, u"Without", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"abc"), 6),
              ERROR_SUCCESS);
    WCHAR buf[8];
    std::memset(buf, 0xAA, sizeof buf);
    DWORD size = sizeof buf;
    ASSERT_EQ(RegQueryValueExW(printers_, u"With", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(std::u16string(buf), u"abc");
    std::memset(buf, 0xAA, sizeof buf);
    size = sizeof buf;
    ASSERT_EQ(RegQueryValueExW(printers_, u"Without", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(std::u16string(buf), u"abc");
    EXPECT_EQ(buf[4], 0xAAAA);
}

TEST_F(RegistryApiTest, EnumerationOrderAndBuffers) {
    // Subkeys sorted without regard to case, names as first written.
    std::vector<std::u16string> keys;
    WCHAR name[64];
    DWORD cch;
    for (DWORD i = 0;; ++i) {
        cch = 64;
        LONG rc = RegEnumKeyExW(printers_, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(rc, ERROR_SUCCESS);
        EXPECT_EQ(cch, std::char_traits<char16_t>::length(name));
        keys.emplace_back(name);
    }
    EXPECT_EQ(keys, (std::vector<std::u16string>{u"Alpha", u"beta", u"Gamma"}));
    cch = 5;  // "Alpha" needs 6 with its terminator
    EXPECT_EQ(RegEnumKeyExW(printers_, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);

    HKEY alpha;
    ASSERT_EQ(RegOpenKeyExW(printers_, u"alpha", 0, KEY_READ, &alpha), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(alpha), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExW(printers_, u"alpha", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &alpha, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(alpha, u"Zed", 0, REG_DWORD, reinterpret_cast<const BYTE*>("\1\0\0\0"), 4),
              ERROR_SUCCESS);
    // Values in the order they were first set; resetting keeps the place.
    ASSERT_EQ(RegSetValueExW(alpha, u"ENTRYNAME", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"X"), 4), ERROR_SUCCESS);
    std::vector<std::u16string> values;
    for (DWORD i = 0;; ++i) {
        cch = 64;
        DWORD type, size = 0;
        LONG rc = RegEnumValueW(alpha, i, name, &cch, nullptr, &type, nullptr, &size);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(rc, ERROR_SUCCESS);
        values.emplace_back(name);
    }
    EXPECT_EQ(values, (std::vector<std::u16string>{u"EntryName", u"Count", u"Raw", u"Zed"}));
    BYTE data[2];
    DWORD size = sizeof data, type = 0;
    cch = 64;
    EXPECT_EQ(RegEnumValueW(alpha, 1, name, &cch, nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    cch = 4;
    size = 0;
    EXPECT_EQ(RegEnumValueW(alpha, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);

    DWORD subkeys, maxSub, values_, maxName, maxData;
    ASSERT_EQ(RegQueryInfoKeyW(printers_, nullptr, nullptr, nullptr, &subkeys, &maxSub, nullptr, &values_, &maxName,
                               &maxData, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 3u);
    EXPECT_EQ(maxSub, 5u);
    EXPECT_EQ(values_, 0u);
    ASSERT_EQ(RegQueryInfoKeyW(alpha, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values_, &maxName,
                               &maxData, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 0u);
    EXPECT_EQ(values_, 4u);
    EXPECT_EQ(maxName, 9u);  // "EntryName"
    EXPECT_EQ(maxData, 4u);
    RegCloseKey(alpha);
}

TEST_F(RegistryApiTest, CreateDeleteAndDeletedHandles) {
    HKEY key;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(printers_, u"New\\Deep", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyExW(printers_, u"NEW", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));

    struct Case {
        const char* what;
        LONG rc, expected;
    } cases[] = {
        {"key with subkeys", RegDeleteKeyW(printers_, u"New"), ERROR_ACCESS_DENIED},
        {"missing key", RegDeleteKeyW(printers_, u"Nope"), ERROR_FILE_NOT_FOUND},
        {"missing value", RegDeleteValueW(printers_, u"Nope"), ERROR_FILE_NOT_FOUND},
        {"root", RegDeleteKeyW(HKEY_CURRENT_USER, u""), ERROR_ACCESS_DENIED},
        {"leaf", RegDeleteKeyW(printers_, u"New\\Deep"), ERROR_SUCCESS},
        {"leaf again", RegDeleteKeyW(printers_, u"New\\Deep"), ERROR_FILE_NOT_FOUND},
        {"tree", RegDeleteTreeW(printers_, u"Alpha"), ERROR_SUCCESS},
    };
    for (const auto& c : cases) EXPECT_EQ(c.rc, c.expected) << c.what;

    // The open handle names a key that is gone.
    ASSERT_EQ(RegDeleteTreeW(printers_, u"new"), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"x", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegSetValueExW(key, u"x", 0, REG_BINARY, nullptr, 0), ERROR_KEY_DELETED);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_KEY_DELETED));
    EXPECT_EQ(RegFlushKey(key), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    // Without a subkey, RegDeleteTreeW empties the key and keeps it.
    ASSERT_EQ(RegDeleteTreeW(printers_, nullptr), ERROR_SUCCESS);
    DWORD subkeys = 1;
    ASSERT_EQ(RegQueryInfoKeyW(printers_, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 0u);
}

TEST_F(RegistryApiTest, AccessRightsOfTheHandle) {
    HKEY readOnly;
    ASSERT_EQ(RegOpenKeyExW(printers_, u"Alpha", 0, KEY_READ, &readOnly), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(readOnly, u"x", 0, REG_BINARY, nullptr, 0), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(readOnly, u"Count"), ERROR_ACCESS_DENIED);
    RegCloseKey(readOnly);
    HKEY writeOnly;
    ASSERT_EQ(RegOpenKeyExW(printers_, u"Alpha", 0, KEY_SET_VALUE, &writeOnly), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(writeOnly, u"Count", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueExW(writeOnly, u"x", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    RegCloseKey(writeOnly);
    // Names the text store could not write back are refused up front.
    EXPECT_EQ(RegSetValueExW(printers_, u"two\nlines", 0, REG_BINARY, nullptr, 0), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(printers_, u"x", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
}

}  // namespace
