// Splits a printer stream at the profile's sequences, longest match first:
// sequences, runs of text, graphics passes, and the bytes nothing explains.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "preview/StreamGrammar.h"

namespace pressel_preview {

struct Token {
    enum class Kind : uint8_t { Sequence, Text, Unexplained, Pass };
    Kind kind;
    Seq seq = Seq::Init;  // Sequence
    size_t offset = 0, length = 0;
    // Unexplained: the byte, or the UTF-16 unit with "Unicode".
    // Sequence GraphModeInit: the pass count it carries, if it carries one.
    uint32_t value = 0;
    int pass = 0;     // Pass: its index from 0
    int passes = -1;  // Pass: how many the graphics mode announced; -1 unknown
};

// Where a stream that was cut off stopped: it ends at offset, inside (or
// just after) what began at began.
struct Stop {
    size_t offset = 0, began = 0;
    std::string what;  // "BoldOnSeq (2 of 3 bytes)", "graphics pass 3 of 6 (100 of 960 bytes)"
};
std::string DescribeStop(const Stop& stop);

struct SplitStream {
    std::vector<Token> tokens;  // contiguous from offset 0
    std::optional<Stop> stop;
};

SplitStream Split(const StreamGrammar& grammar, std::string_view bytes);

}  // namespace pressel_preview
