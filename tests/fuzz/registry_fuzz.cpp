// Fuzzes the .reg parser and writer: any input parses or fails cleanly, and
// what parses exports to text that parses again to the same export.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "registry/regtext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace platform::registry;
    std::vector<Op> ops;
    ParseError error;
    if (!ParseRegText(std::string_view(reinterpret_cast<const char*>(data), size), &ops, &error)) return 0;
    Tree tree;
    ApplyOps(tree, ops);
    std::string text = ExportTree(tree);
    std::vector<Op> again;
    if (!ParseRegText(text, &again, &error)) std::abort();
    Tree second;
    ApplyOps(second, again);
    if (ExportTree(second) != text) std::abort();
    return 0;
}
