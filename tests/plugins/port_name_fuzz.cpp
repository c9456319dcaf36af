// Port names as UTF-16 code units (little-endian pairs of input bytes).
#include <cstddef>
#include <cstdint>
#include <string>

#include "plugins/farsend/address.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string name;
    for (size_t i = 0; i + 1 < size; i += 2) name += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    farsend::Target target = farsend::ParsePortName(name);
    if (target.kind == farsend::TargetKind::Tcp && (target.host.empty() || target.port.empty())) __builtin_trap();
    return 0;
}
