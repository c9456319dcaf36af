// Private to the platform layer: the parser of .rgs registration scripts
// (syntax in include/pressel/registrar.h).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "win/types.h"

namespace platform::rgs {

struct Data {
    DWORD type = 0;  // REG_SZ, REG_DWORD, REG_BINARY
    std::vector<BYTE> bytes;
};

struct Node {
    std::u16string name;
    bool isValue = false;  // 'val Name = ...'
    bool noRemove = false;
    bool forceRemove = false;
    bool remove = false;  // 'Delete'
    bool hasData = false;
    Data data;
    std::vector<Node> children;
};

struct Root {
    std::u16string hive;  // "HKCR", "HKCU" or "HKLM"
    std::vector<Node> keys;
};

// Names are compared without regard to case.
using Replacements = std::map<std::u16string, std::u16string>;

// false with *error "line N: ..." on malformed text or an unknown %NAME%.
bool Parse(std::u16string_view script, const Replacements& replacements, std::vector<Root>* roots,
           std::string* error);

}  // namespace platform::rgs
