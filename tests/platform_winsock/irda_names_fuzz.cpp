// Socket file names of the emulated IrDA neighbourhood: whatever sits in the
// directory must parse or be ignored, and what parses must format back to a
// name that parses to the same device and service.
#include <cstddef>
#include <cstdint>
#include <string>

#include "winsock/irda.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string file(reinterpret_cast<const char*>(data), size);
    auto entry = platform::irda::ParseEntryName(file);
    if (!entry) return 0;
    if (entry->name.size() > platform::irda::kMaxNameBytes) __builtin_trap();
    if (entry->service.empty() || entry->service.size() > platform::irda::kMaxServiceBytes) __builtin_trap();
    auto again = platform::irda::ParseEntryName(platform::irda::FormatEntryName(*entry));
    if (!again || again->id != entry->id || again->name != entry->name || again->service != entry->service)
        __builtin_trap();
    platform::irda::LsapSelector(entry->service);
    platform::irda::DevicesFromEntries({*entry, *again});
    return 0;
}
