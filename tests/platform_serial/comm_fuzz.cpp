// Fuzz target for the serial translations: arbitrary DCB and COMMTIMEOUTS
// bytes, and arbitrary UTF-16 device names. Bad values must be refused
// without touching the termios; plans and port numbers stay in range.
#include <termios.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "serial/com_names.h"
#include "serial/comm_translate.h"

using namespace platform::serial;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= sizeof(DCB) + sizeof(COMMTIMEOUTS)) {
        DCB dcb;
        COMMTIMEOUTS cto;
        std::memcpy(&dcb, data, sizeof dcb);
        std::memcpy(&cto, data + sizeof dcb, sizeof cto);
        termios tio;
        std::memset(&tio, 0x5A, sizeof tio);
        termios before = tio;
        if (DcbToTermios(dcb, &tio) != 0) {
            if (std::memcmp(&tio, &before, sizeof tio) != 0) std::abort();
        } else if (tio.c_cc[VMIN] != 0 || tio.c_cc[VTIME] != 0) {
            std::abort();
        }
        DCB back{};
        TermiosToDcb(tio, &back);
        DWORD count = dcb.BaudRate;
        ReadPlan plan = PlanRead(cto, count);
        if (plan.immediate && (plan.returnOnAny || plan.totalMs || plan.intervalMs)) std::abort();
        PlanWrite(cto, count);
        data += sizeof dcb + sizeof cto;
        size -= sizeof dcb + sizeof cto;
    }
    std::u16string name(size / 2, u'\0');
    std::memcpy(name.data(), data, name.size() * 2);
    if (auto number = ComPortNumber(name); number && (*number < 1 || *number > 255)) std::abort();
    return 0;
}
