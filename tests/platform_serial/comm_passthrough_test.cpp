// SetCommTimeouts/GetCommTimeouts on a stream device: they arrive as the
// serial I/O controls, with the COMMTIMEOUTS as the buffer.
#include <gtest/gtest.h>

#include <cstring>

#include "core/handles.h"
#include "win/base.h"
#include "win/serial.h"

namespace {

class FakeDevice : public platform::KernelObject {
public:
    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) override {
        lastCode = code;
        if (code == IOCTL_SERIAL_SET_TIMEOUTS && in && inSize == sizeof(COMMTIMEOUTS)) {
            std::memcpy(&stored, in, sizeof stored);
            return TRUE;
        }
        if (code == IOCTL_SERIAL_GET_TIMEOUTS && out && outSize == sizeof(COMMTIMEOUTS)) {
            std::memcpy(out, &stored, sizeof stored);
            *returned = sizeof stored;
            return TRUE;
        }
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD lastCode = 0;
    COMMTIMEOUTS stored{};
};

TEST(CommTimeoutsOnDevices, TravelAsSerialIoControls) {
    auto device = std::make_shared<FakeDevice>();
    HANDLE h = platform::AddHandle(device);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);

    COMMTIMEOUTS set = {1, 2, 3, 4, 5};
    ASSERT_TRUE(SetCommTimeouts(h, &set));
    EXPECT_EQ(device->lastCode, 0x1B001Cu);
    EXPECT_EQ(std::memcmp(&device->stored, &set, sizeof set), 0);

    COMMTIMEOUTS got;
    std::memset(&got, 0xAA, sizeof got);
    ASSERT_TRUE(GetCommTimeouts(h, &got));
    EXPECT_EQ(device->lastCode, 0x1B0020u);
    EXPECT_EQ(std::memcmp(&got, &set, sizeof set), 0);

    // The line calls are not for such a device.
    DCB dcb{};
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(GetCommState(h, &dcb));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_FUNCTION});
    EXPECT_FALSE(EscapeCommFunction(h, SETDTR));
    EXPECT_TRUE(CloseHandle(h));
}

}  // namespace
