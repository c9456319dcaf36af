#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/names.h"
#include "core/utf.h"
#include "pressel/trace.h"
#include "win/base.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr DWORD kSentinel = 0xDEADBEEF;

class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/pressel-file-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }
    static std::u16string Wide(const std::string& s) { return platform::FromUtf8(s); }
    static void Put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
        return CreateFileW(Wide(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    std::string dir_;
};

struct DispositionCase {
    DWORD disposition;
    bool exists;
    bool opens;
    DWORD lastError;
    const char* contentAfter;  // null: no file afterwards
};

TEST_F(FileTest, DispositionsAndTheirLastErrors) {
    const DispositionCase cases[] = {
        {CREATE_NEW, false, true, ERROR_SUCCESS, ""},
        {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
        {CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
        {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
        {OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
        {OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
        {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
        {TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "disposition " << c.disposition << " exists " << c.exists);
        std::string path = PathOf("f");
        fs::remove(path);
        if (c.exists) Put(path, "old");
        SetLastError(kSentinel);
        HANDLE h = Open(path, GENERIC_WRITE, 0, c.disposition);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.lastError));
        if (h != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(h));
        }
        if (c.contentAfter) EXPECT_EQ(Contents(path), c.contentAfter);
        else EXPECT_FALSE(fs::exists(path));
    }
}

TEST_F(FileTest, MissingDirectoryIsPathNotFoundForEveryDisposition) {
    for (DWORD disposition : {CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS, TRUNCATE_EXISTING}) {
        SetLastError(kSentinel);
        EXPECT_EQ(Open(PathOf("no/such/file"), GENERIC_WRITE, 0, disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND)) << disposition;
    }
    Put(PathOf("plain"), "x");  // a file used as a directory
    EXPECT_EQ(Open(PathOf("plain/f"), GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FileTest, BadArgumentsAndDirectoriesAreRefused) {
    struct {
        const char16_t* name;
        DWORD access;
        DWORD disposition;
        DWORD error;
    } const cases[] = {
        {nullptr, GENERIC_READ, OPEN_EXISTING, ERROR_INVALID_PARAMETER},
        {u"", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {u"/tmp", GENERIC_READ, 0, ERROR_INVALID_PARAMETER},
        {u"/tmp", GENERIC_READ, 6, ERROR_INVALID_PARAMETER},
        {u"/tmp", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {u"/tmp", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {u"/tmp/x-never-there", GENERIC_READ, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SetLastError(kSentinel);
        EXPECT_EQ(CreateFileW(c.name, c.access, 0, nullptr, c.disposition, 0, nullptr), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error) << (c.name ? platform::ToUtf8(c.name) : "null") << " " << c.disposition;
    }
}

TEST_F(FileTest, AccessIsEnforcedOnReadAndWrite) {
    std::string path = PathOf("a");
    Put(path, "hello");
    char buffer[8];
    DWORD done = kSentinel;

    HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    SetLastError(kSentinel);
    EXPECT_FALSE(WriteFile(reader, "x", 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(done, 0u);

    HANDLE writer = Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    SetLastError(kSentinel);
    EXPECT_FALSE(ReadFile(writer, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // A zero-byte write succeeds and changes nothing.
    done = kSentinel;
    EXPECT_TRUE(WriteFile(writer, nullptr, 0, &done, nullptr));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(Contents(path), "hello");
    EXPECT_TRUE(WriteFile(writer, "J", 1, &done, nullptr));
    EXPECT_EQ(done, 1u);

    std::memset(buffer, 0xAA, sizeof buffer);
    EXPECT_TRUE(ReadFile(reader, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(done, 5u);
    EXPECT_EQ(std::string(buffer, 5), "Jello");
    EXPECT_EQ(static_cast<unsigned char>(buffer[5]), 0xAA);
    // At the end of the file a read succeeds with nothing.
    done = kSentinel;
    EXPECT_TRUE(ReadFile(reader, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(done, 0u);
    CloseHandle(reader);
    CloseHandle(writer);
}

TEST_F(FileTest, SharingModesBetweenOpensInTheProcess) {
    constexpr DWORD R = GENERIC_READ, W = GENERIC_WRITE, SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE;
    struct {
        DWORD access1, share1, access2, share2;
        bool secondOpens;
    } const cases[] = {
        {R, SR, R, SR, true},
        {R, SR, W, SR | SW, false},       // first does not share writing
        {R, SR | SW, W, SW, false},       // second excludes the first's reading
        {R, SR | SW, W, SR | SW, true},
        {W, 0, R, SR | SW, false},        // exclusive
        {W, SR, R, SR | SW, true},
        {W, SR, R, SR, false},            // second excludes the first's writing
        {R | W, SR | SW, R | W, SR | SW, true},
        {0, 0, R | W, SR | SW, true},     // an open without access shares with all...
        {R, SR, 0, 0, true},              // ...and conflicts with none
    };
    std::string path = PathOf("s");
    Put(path, "content");
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.access1 << "/" << c.share1 << " then " << c.access2 << "/"
                                          << c.share2);
        HANDLE first = Open(path, c.access1, c.share1, OPEN_EXISTING);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        SetLastError(kSentinel);
        HANDLE second = Open(path, c.access2, c.share2, OPEN_EXISTING);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens);
        if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
        else EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        CloseHandle(first);
    }
    // Closing ends the claim at once.
    HANDLE again = Open(path, W, 0, OPEN_EXISTING);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST_F(FileTest, RefusedOpenLeavesTheFileIntact) {
    std::string path = PathOf("keep");
    Put(path, "precious");
    HANDLE holder = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    for (DWORD disposition : {CREATE_ALWAYS, TRUNCATE_EXISTING}) {
        SetLastError(kSentinel);
        EXPECT_EQ(Open(path, GENERIC_WRITE, 0, disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_EQ(Contents(path), "precious");
    }
    // Deleting needs FILE_SHARE_DELETE from every open.
    SetLastError(kSentinel);
    EXPECT_FALSE(DeleteFileW(Wide(path).c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(holder);

    holder = Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
    EXPECT_TRUE(DeleteFileW(Wide(path).c_str()));
    EXPECT_FALSE(fs::exists(path));
    CloseHandle(holder);
    SetLastError(kSentinel);
    EXPECT_FALSE(DeleteFileW(Wide(path).c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileW(Wide(PathOf("no/such")).c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// Another process sees our opens through flock: exclusive for opens that
// share nothing, shared otherwise.
TEST_F(FileTest, OtherProcessesSeeTheLocks) {
    if (!fs::exists("/usr/bin/flock")) GTEST_SKIP() << "no flock(1)";
    auto lockable = [](const std::string& path, const char* mode) {
        const char* argv[] = {"/usr/bin/flock", "-n", mode, path.c_str(), "/bin/true", nullptr};
        pid_t pid;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return false;
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    std::string path = PathOf("l");
    Put(path, "x");
    HANDLE exclusive = Open(path, GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(lockable(path, "-s"));
    CloseHandle(exclusive);
    HANDLE shared = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(lockable(path, "-s"));
    EXPECT_FALSE(lockable(path, "-x"));
    CloseHandle(shared);
    EXPECT_TRUE(lockable(path, "-x"));
}

TEST_F(FileTest, DevicesAreOpenedByAnyNumberAndWritten) {
    HANDLE a = Open("/dev/null", GENERIC_WRITE, 0, OPEN_EXISTING);
    HANDLE b = Open("/dev/null", GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(a, INVALID_HANDLE_VALUE);
    ASSERT_NE(b, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    EXPECT_TRUE(WriteFile(b, "abc", 3, &done, nullptr));
    EXPECT_EQ(done, 3u);
    CloseHandle(a);
    CloseHandle(b);

    int master, slave;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    termios raw;
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    HANDLE tty = Open(name, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(tty, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(WriteFile(tty, "\x1b@line\r\n", 8, &done, nullptr));
    EXPECT_TRUE(FlushFileBuffers(tty));
    char got[16] = {};
    size_t have = 0;
    while (have < 8) {
        ssize_t n = read(master, got + have, sizeof got - have);
        ASSERT_GT(n, 0);
        have += static_cast<size_t>(n);
    }
    EXPECT_EQ(std::string(got, have), "\x1b@line\r\n");
    // A device read returns what is there rather than waiting for the count.
    ASSERT_EQ(write(master, "ok", 2), 2);
    EXPECT_TRUE(ReadFile(tty, got, sizeof got, &done, nullptr));
    EXPECT_EQ(std::string(got, done), "ok");
    CloseHandle(tty);
    close(slave);
    close(master);
}

TEST_F(FileTest, NamedPipesNeitherHangNorKill) {
    std::string path = PathOf("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    SetLastError(kSentinel);
    EXPECT_EQ(Open(path, GENERIC_WRITE, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);  // nobody reading
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEV_NOT_EXIST));

    int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    HANDLE h = Open(path, GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = kSentinel;
    EXPECT_TRUE(WriteFile(h, "ab", 2, &done, nullptr));
    EXPECT_EQ(done, 2u);
    close(reader);
    SetLastError(kSentinel);
    EXPECT_FALSE(WriteFile(h, "cd", 2, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    CloseHandle(h);
}

TEST_F(FileTest, ReadOnlyAttributeOnCreation) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes read-only files";
    std::string path = PathOf("ro");
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    EXPECT_TRUE(WriteFile(h, "x", 1, &done, nullptr));  // the creating handle may still write
    CloseHandle(h);
    SetLastError(kSentinel);
    EXPECT_EQ(Open(path, GENERIC_WRITE, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FileTest, SizeAndFilePointer) {
    std::string path = PathOf("p");
    Put(path, "0123456789");
    HANDLE h = Open(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD high = kSentinel;
    EXPECT_EQ(GetFileSize(h, &high), 10u);
    EXPECT_EQ(high, 0u);

    struct {
        LONG distance;
        DWORD method;
        DWORD result;
        DWORD error;  // kSentinel: left alone
    } const moves[] = {
        {4, FILE_BEGIN, 4, kSentinel},
        {2, FILE_CURRENT, 6, kSentinel},
        {-1, FILE_END, 9, kSentinel},
        {-10, FILE_CURRENT, INVALID_SET_FILE_POINTER, ERROR_NEGATIVE_SEEK},
        {0, FILE_CURRENT, 9, kSentinel},  // the refused move did not move
        {0, 7, INVALID_SET_FILE_POINTER, ERROR_INVALID_PARAMETER},
        {20, FILE_BEGIN, 20, kSentinel},  // past the end is allowed
    };
    for (const auto& m : moves) {
        SetLastError(kSentinel);
        EXPECT_EQ(SetFilePointer(h, m.distance, nullptr, m.method), m.result) << m.distance << "/" << m.method;
        EXPECT_EQ(GetLastError(), m.error);
    }
    LONG moveHigh = 1;  // 4 GiB + 1
    EXPECT_EQ(SetFilePointer(h, 1, &moveHigh, FILE_BEGIN), 1u);
    EXPECT_EQ(moveHigh, 1);
    SetLastError(kSentinel);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));  // does not fit 32 bits
    EXPECT_TRUE(FlushFileBuffers(h));
    CloseHandle(h);

    SetLastError(kSentinel);
    EXPECT_EQ(GetFileSize(reinterpret_cast<HANDLE>(0x1234), nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(FileTest, BackslashesAreSeparators) {
    fs::create_directory(PathOf("sub"));
    std::string windowsStyle = dir_ + "\\sub\\w.txt";
    HANDLE h = Open(windowsStyle, GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_TRUE(fs::exists(PathOf("sub/w.txt")));
}

bool OpenFakePort(const platform::OpenRequest& request, HANDLE* result) {
    if (request.name != u"FAKE7:") return false;
    SetLastError(ERROR_DEV_NOT_EXIST);
    *result = INVALID_HANDLE_VALUE;
    return true;
}

TEST_F(FileTest, SpecialNamesGoToTheirOpenerAndEveryOpenIsTraced) {
    platform::AddNameOpener(OpenFakePort);
    pressel_trace::Enable(true);
    SetLastError(kSentinel);
    EXPECT_EQ(CreateFileW(u"FAKE7:", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEV_NOT_EXIST));
    std::string path = PathOf("t");
    HANDLE h = Open(path, GENERIC_WRITE, 0, OPEN_ALWAYS);
    CloseHandle(h);
    auto trace = pressel_trace::Take();
    pressel_trace::Enable(false);
    std::vector<std::string> opens;
    for (const auto& line : trace)
        if (line.rfind("CreateFileW", 0) == 0) opens.push_back(line);
    EXPECT_EQ(opens, (std::vector<std::string>{"CreateFileW(FAKE7:,0x40000000,2)",
                                               "CreateFileW(" + path + ",0x40000000,4)"}));
}

}  // namespace
