#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/handles.h"
#include "core/utf.h"
#include "win/base.h"

namespace {

class CountingObject : public platform::KernelObject {
public:
    explicit CountingObject(int* closes) : closes_(closes) {}
    BOOL Close() override {
        ++*closes_;
        return TRUE;
    }

private:
    int* closes_;
};

TEST(Handles, ValuesFitInThirtyTwoBitsAndCloseOnce) {
    int closes = 0;
    HANDLE h = platform::AddHandle(std::make_shared<CountingObject>(&closes));
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // The control keeps its port handle in a 32-bit field.
    auto narrowed = static_cast<int32_t>(reinterpret_cast<intptr_t>(h));
    EXPECT_EQ(reinterpret_cast<HANDLE>(static_cast<intptr_t>(narrowed)), h);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(closes, 1);
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(closes, 1);
}

TEST(Handles, BogusHandlesAreRefused) {
    for (HANDLE h : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x101)}) {
        DWORD done = 0xAAAA;
        char byte = 0;
        SetLastError(0);
        EXPECT_FALSE(WriteFile(h, &byte, 1, &done, nullptr));
        EXPECT_EQ(done, 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}

TEST(Handles, ObjectsWithoutReadOrWriteSayInvalidFunction) {
    int closes = 0;
    HANDLE h = platform::AddHandle(std::make_shared<CountingObject>(&closes));
    char byte = 0;
    DWORD done = 7;
    EXPECT_FALSE(ReadFile(h, &byte, 1, &done, nullptr));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    CloseHandle(h);
}

// Writes wait at a gate until the test opens it; destruction is recorded.
class GateObject : public platform::KernelObject {
public:
    GateObject(std::shared_future<void> gate, std::atomic<int>* destroyed) : gate_(gate), destroyed_(destroyed) {}
    ~GateObject() override { ++*destroyed_; }
    BOOL Write(const void*, DWORD count, DWORD* done) override {
        entered.set_value();
        gate_.wait();
        *done = count;
        return TRUE;
    }
    std::promise<void> entered;

private:
    std::shared_future<void> gate_;
    std::atomic<int>* destroyed_;
};

TEST(Handles, ACallInsideAnObjectOutlivesTheCloseOfItsHandle) {
    std::promise<void> open;
    std::atomic<int> destroyed{0};
    auto object = std::make_shared<GateObject>(open.get_future().share(), &destroyed);
    auto entered = object->entered.get_future();
    HANDLE h = platform::AddHandle(std::move(object));
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    BOOL ok = FALSE;
    DWORD done = 0;
    std::thread writer([&] { ok = WriteFile(h, "abc", 3, &done, nullptr); });
    entered.wait();

    EXPECT_TRUE(CloseHandle(h));
    DWORD late = 0xAAAA;
    SetLastError(0);
    EXPECT_FALSE(WriteFile(h, "x", 1, &late, nullptr));
    EXPECT_EQ(late, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(destroyed, 0);
    // The value is not handed out again while a call is still inside.
    int closes = 0;
    HANDLE other = platform::AddHandle(std::make_shared<CountingObject>(&closes));
    EXPECT_NE(other, h);

    open.set_value();
    writer.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(destroyed, 1);
    // Once the last call has left, the slot is free again.
    HANDLE again = platform::AddHandle(std::make_shared<CountingObject>(&closes));
    EXPECT_EQ(again, h);
    CloseHandle(again);
    CloseHandle(other);
    EXPECT_EQ(closes, 2);
}

// Writes on handles that other threads open and close meanwhile: each either
// reaches its object or fails as an invalid handle; every object goes once.
class SinkObject : public platform::KernelObject {
public:
    explicit SinkObject(std::atomic<int>* destroyed) : destroyed_(destroyed) {}
    ~SinkObject() override { ++*destroyed_; }
    BOOL Write(const void*, DWORD count, DWORD* done) override {
        *done = count;
        return TRUE;
    }

private:
    std::atomic<int>* destroyed_;
};

TEST(Handles, WritesRaceWithClosesSafely) {
    constexpr int kThreads = 4, kRounds = 2000;
    std::atomic<int> made{0}, destroyed{0}, failures{0};
    std::atomic<uintptr_t> shared{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                if (t % 2 == 0) {
                    ++made;
                    HANDLE h = platform::AddHandle(std::make_shared<SinkObject>(&destroyed));
                    shared.store(reinterpret_cast<uintptr_t>(h));
                    if (!CloseHandle(h)) ++failures;
                } else {
                    DWORD done = 0xAAAA;
                    SetLastError(0);
                    BOOL ok = WriteFile(reinterpret_cast<HANDLE>(shared.load()), "ab", 2, &done, nullptr);
                    if (ok ? done != 2 : done != 0 || GetLastError() != static_cast<DWORD>(ERROR_INVALID_HANDLE))
                        ++failures;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(destroyed, made);
}

TEST(Utf, RoundTripsAndReplacesBrokenInput) {
    std::u16string text = u"Pr\u00e9sse\u20ac \U0001F5A8";
    EXPECT_EQ(platform::FromUtf8(platform::ToUtf8(text)), text);
    EXPECT_EQ(platform::ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
    EXPECT_EQ(platform::FromUtf8("a\xC3"), u"a\uFFFD");
    EXPECT_EQ(platform::FromUtf8("\xC0\x80"), u"\uFFFD\uFFFD");  // overlong NUL
}

}  // namespace
