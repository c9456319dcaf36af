// Fuzz target for the COM runtime's parsers. The first byte chooses the
// parser: 0 resource records, 1 ELF section table, 2 type-library text,
// 3 registration script, 4 version text (and queries on the block it gives).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "com/rgs.h"
#include "com/rsrc.h"
#include "com/typelib_model.h"
#include "core/utf.h"
#include "win/resources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t kind = data[0] % 5;
    const uint8_t* body = data + 1;
    const size_t length = size - 1;
    const std::string_view text(reinterpret_cast<const char*>(body), length);
    switch (kind) {
    case 0: {
        for (const auto& e : platform::rsrc::ParseTable(body, length))
            if (e.offset > length || e.size > length - e.offset) __builtin_trap();
        break;
    }
    case 1: {
        platform::rsrc::FileReader reader = [&](uint64_t offset, size_t n, void* out) {
            if (offset > length || n > length - offset) return false;
            std::memcpy(out, body + offset, n);
            return true;
        };
        uint64_t offset = 0, bytes = 0;
        bool isElf = false;
        if (platform::rsrc::FindElfSection(reader, length, ".pressel.rsrc", &offset, &bytes, &isElf) &&
            (offset > length || bytes > length - offset))
            __builtin_trap();
        break;
    }
    case 2: {
        platform::typelib::Library library;
        std::string error;
        platform::typelib::Parse(text, &library, &error);
        break;
    }
    case 3: {
        std::vector<platform::rgs::Root> roots;
        std::string error;
        platform::rgs::Parse(platform::FromUtf8(text), {{u"MODULE", u"/x/lib.so"}}, &roots, &error);
        break;
    }
    case 4: {
        std::vector<uint8_t> block;
        if (!platform::rsrc::BuildVersionBlock(text, &block)) break;
        void* value = nullptr;
        UINT len = 0;
        for (const char16_t* path : {u"\\", u"\\StringFileInfo\\040904B0\\FileDescription",
                                     u"\\VarFileInfo\\Translation", u"\\StringFileInfo"})
            VerQueryValueW(block.data(), path, &value, &len);
        break;
    }
    }
    return 0;
}
