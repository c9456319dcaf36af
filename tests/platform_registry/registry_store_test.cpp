// The store file shared between processes: concurrent writers, readers that
// see other processes' changes, a malformed file that is never replaced, and
// the temporary files of writers that die mid-write.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "registry_fixture.h"

namespace {

using RegistryStoreTest = RegistryTest;

// Runs body in a child process; returns its exit status.
template <class F>
int InChild(F body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = -1;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST_F(RegistryStoreTest, MissingFileIsAnEmptyRegistry) {
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD subkeys = 7, values = 7;
    EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 0u);
    EXPECT_EQ(values, 0u);
    RegCloseKey(key);
    EXPECT_FALSE(std::filesystem::exists(path_));  // reading creates nothing
}

TEST_F(RegistryStoreTest, ConcurrentWritersKeepEveryUpdate) {
    constexpr int kWriters = 6, kValues = 15;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        if (pid == 0) {
            HKEY key;
            if (RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Race", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr) != ERROR_SUCCESS)
                _exit(1);
            for (int v = 0; v < kValues; ++v) {
                std::string name = "w" + std::to_string(w) + "v" + std::to_string(v);
                std::u16string wide(name.begin(), name.end());
                DWORD data = DWORD(w * 1000 + v);
                if (RegSetValueExW(key, wide.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&data), 4) !=
                    ERROR_SUCCESS)
                    _exit(2);
            }
            _exit(RegCloseKey(key) == ERROR_SUCCESS ? 0 : 3);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = -1;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Race", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, DWORD(kWriters * kValues));
    for (int w = 0; w < kWriters; ++w)
        for (int v = 0; v < kValues; ++v) {
            std::string name = "w" + std::to_string(w) + "v" + std::to_string(v);
            std::u16string wide(name.begin(), name.end());
            DWORD data = 0, size = 4;
            ASSERT_EQ(RegQueryValueExW(key, wide.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size),
                      ERROR_SUCCESS)
                << name;
            EXPECT_EQ(data, DWORD(w * 1000 + v));
        }
    RegCloseKey(key);
}

TEST_F(RegistryStoreTest, ThreadsShareOneCache) {
    // Writers and readers on several threads of one process; every value
    // written is there afterwards and the file keeps its permissions.
    WriteFile("Windows Registry Editor Version 5.00\n");
    std::filesystem::permissions(path_, std::filesystem::perms(0640));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int v = 0; v < 10; ++v) {
                std::u16string name = u"t" + std::u16string(1, char16_t(u'0' + t)) + u"v" +
                                      std::u16string(1, char16_t(u'0' + v));
                HKEY key;
                ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Threads", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                          nullptr),
                          ERROR_SUCCESS);
                ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                                         DWORD((name.size() + 1) * 2)),
                          ERROR_SUCCESS);
                EXPECT_EQ(QueryString(key, name.c_str()), name);
                RegCloseKey(key);
            }
        });
    for (auto& t : threads) t.join();
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Threads", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 40u);
    RegCloseKey(key);
    EXPECT_EQ(std::filesystem::status(path_).permissions(), std::filesystem::perms(0640));
}

TEST_F(RegistryStoreTest, ReaderSeesAnotherProcessesChange) {
    Import("Windows Registry Editor Version 5.00\n[HKLM\\SOFTWARE\\Quendrix\\Farlink]\n\"FLPort\"=\"COM1:\"\n");
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Quendrix\\Farlink", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, u"FLPort"), u"COM1:");
    ASSERT_EQ(InChild([] {
                  std::string message;
                  return int(pressel_registry::Import(
                      "Windows Registry Editor Version 5.00\n[HKLM\\SOFTWARE\\Quendrix\\Farlink]\n"
                      "\"FLPort\"=\"COM2:\"\n",
                      &message));
              }),
              0);
    EXPECT_EQ(QueryString(key, u"FLPort"), u"COM2:");
    // Another process deletes the key this handle names.
    ASSERT_EQ(InChild([] { return int(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Quendrix")); }), 0);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"FLPort", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    RegCloseKey(key);
}

TEST_F(RegistryStoreTest, MalformedFileIsReportedAndNeverReplaced) {
    const std::string bad = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"ok\"=\"1\"\n\"bad\"=dwrd:1\n";
    WriteFile(bad);
    testing::internal::CaptureStderr();
    HKEY key = nullptr;
    SetLastError(0);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"A", 0, KEY_READ, &key), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_REGISTRY_CORRUPT));
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(RegSetValueExW(HKEY_CURRENT_USER, u"v", 0, REG_BINARY, nullptr, 0), ERROR_REGISTRY_CORRUPT);
    std::string message;
    EXPECT_EQ(pressel_registry::Import("Windows Registry Editor Version 5.00\n[HKCU\\C]\n", &message),
              ERROR_REGISTRY_CORRUPT);
    std::string text;
    EXPECT_EQ(pressel_registry::Export("", &text), ERROR_REGISTRY_CORRUPT);
    std::string err = testing::internal::GetCapturedStderr();
    // Said once, naming the file and the line.
    EXPECT_NE(err.find(path_), std::string::npos) << err;
    EXPECT_NE(err.find("line 4"), std::string::npos) << err;
    EXPECT_EQ(err.find("line 4"), err.rfind("line 4")) << err;
    EXPECT_EQ(FileBytes(), bad);

    // Once mended by hand, the store works again.
    WriteFile("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"ok\"=\"1\"\n");
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"A", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, u"ok"), u"1");
    RegCloseKey(key);
}

// A writer in a child process that rewrites a store of about 1 MB until the
// file "stop" appears beside it; it exits 0 when every write succeeded.
class StoreWriterTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        std::string text = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Big]\n";
        for (int i = 0; i < 1000; ++i) text += "\"v" + std::to_string(i) + "\"=\"" + std::string(1000, 'x') + "\"\n";
        Import(text);
        stop_ = dir_ + "/stop";
        writer_ = fork();
        if (writer_ == 0) {
            for (DWORD n = 0; !std::filesystem::exists(stop_); ++n)
                if (RegSetValueExW(HKEY_CURRENT_USER, u"count", 0, REG_DWORD, reinterpret_cast<BYTE*>(&n), 4) !=
                    ERROR_SUCCESS)
                    _exit(1);
            _exit(0);
        }
    }
    void TearDown() override {
        if (writer_ > 0) {
            kill(writer_, SIGKILL);
            waitpid(writer_, nullptr, 0);
        }
        RegistryTest::TearDown();
    }

    std::vector<std::string> Temporaries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_ + "/sub"))
            if (entry.path().filename().string().starts_with("registry.reg.tmp-")) names.push_back(entry.path());
        return names;
    }
    // Stops the writer while its temporary file exists; false after 20 s.
    bool StopMidWrite() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Temporaries().empty()) continue;
            kill(writer_, SIGSTOP);
            waitpid(writer_, nullptr, WUNTRACED);
            if (!Temporaries().empty()) return true;
            kill(writer_, SIGCONT);
        }
        return false;
    }
    // Asks the writer to finish; its exit status.
    int Finish() {
        std::ofstream(stop_) << "";
        int status = -1;
        waitpid(writer_, &status, 0);
        writer_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
    }

    std::string stop_;
    pid_t writer_ = -1;
};

TEST_F(StoreWriterTest, NextWriterRemovesTheFileOfAWriterKilledMidWrite) {
    ASSERT_TRUE(StopMidWrite());
    const std::vector<std::string> stale = Temporaries();
    kill(writer_, SIGKILL);
    waitpid(writer_, nullptr, 0);
    writer_ = -1;
    EXPECT_EQ(stale, Temporaries());  // nothing removes it until the next write

    const std::string before = Export("HKCU\\Big");
    DWORD n = 7;
    ASSERT_EQ(RegSetValueExW(HKEY_CURRENT_USER, u"after", 0, REG_DWORD, reinterpret_cast<BYTE*>(&n), 4), ERROR_SUCCESS);
    EXPECT_TRUE(Temporaries().empty());
    EXPECT_EQ(before, Export("HKCU\\Big"));
    DWORD value = 0, size = 4;
    EXPECT_EQ(RegQueryValueExW(HKEY_CURRENT_USER, u"after", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 7u);
}

TEST_F(StoreWriterTest, TheFileOfALiveWriterIsKept) {
    ASSERT_TRUE(StopMidWrite());
    const std::vector<std::string> live = Temporaries();
    // Even a writer that does not wait for the stopped one, because the
    // store's lock file was removed, leaves the stopped writer's file alone.
    std::filesystem::remove(path_ + ".lock");
    DWORD n = 7;
    ASSERT_EQ(RegSetValueExW(HKEY_CURRENT_USER, u"other", 0, REG_DWORD, reinterpret_cast<BYTE*>(&n), 4), ERROR_SUCCESS);
    EXPECT_EQ(live, Temporaries());
    kill(writer_, SIGCONT);
    EXPECT_EQ(0, Finish());  // its rename found its file
    EXPECT_TRUE(Temporaries().empty());
}

}  // namespace
