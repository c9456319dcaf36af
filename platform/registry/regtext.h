// Private to the platform layer: the registry tree and its .reg text form.
// Pure functions over memory, so that the parser can be tested and fuzzed
// without a store file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "win/registry.h"

namespace platform::registry {

enum Hive { kClassesRoot = 0, kCurrentUser = 1, kLocalMachine = 2, kHiveCount = 3 };

extern const char16_t* const kHiveNames[kHiveCount];  // "HKEY_CLASSES_ROOT", ...

struct Value {
    std::u16string name;  // empty: the default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Key {
    std::u16string name;
    std::vector<Value> values;  // in the order they were first set
    std::vector<Key> subkeys;   // sorted by FoldName, so output is deterministic

    Value* FindValue(std::u16string_view valueName);
    Key* FindSubkey(std::u16string_view keyName);
    Key& AddSubkey(std::u16string_view keyName);  // existing one or a new one
    bool RemoveSubkey(std::u16string_view keyName);
    bool RemoveValue(std::u16string_view valueName);
    void SetValue(Value value);
};

struct Tree {
    Key roots[kHiveCount];
    Tree();
};

using Path = std::vector<std::u16string>;

// Case-insensitive form of a key or value name.
std::u16string FoldName(std::u16string_view name);
bool SameName(std::u16string_view a, std::u16string_view b);

// A name the text form carries unchanged: no line breaks or zeros, no
// unpaired surrogates.
bool ValidName(std::u16string_view name);

// Longest key name component and value name, in characters.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;

// Splits "A\\B\\C" into components. A trailing backslash is allowed; empty
// components, over-long names and line breaks (which the text form cannot
// carry) are not.
bool SplitPath(std::u16string_view text, Path* path);
// "HKEY_CURRENT_USER\\A\\B" (or HKCU\\A\\B) into hive and path.
bool ParseKeyPath(std::u16string_view text, Hive* hive, Path* path);

Key* FindKey(Tree& tree, Hive hive, const Path& path);
const Key* FindKey(const Tree& tree, Hive hive, const Path& path);
Key& CreateKey(Tree& tree, Hive hive, const Path& path);
// Removes the key and everything below it; false when absent or a root.
bool DeleteTree(Tree& tree, Hive hive, const Path& path);

// One change described by a .reg file.
struct Op {
    enum Kind { kCreateKey, kDeleteTree, kSetValue, kDeleteValue } kind;
    Hive hive;
    Path path;
    Value value;  // kSetValue: the value; kDeleteValue: its name
};

struct ParseError {
    int line = 0;  // 1-based physical line; 0 for the file as a whole
    std::string message;
};

// Parses a .reg file: "REGEDIT4" (Windows-1252) or version 5.00 in UTF-8
// (with or without BOM) or UTF-16LE with BOM.
bool ParseRegText(std::string_view bytes, std::vector<Op>* ops, ParseError* error);
void ApplyOps(Tree& tree, const std::vector<Op>& ops);

// Version 5.00 text, UTF-8 without BOM, LF line ends. Subkeys in sorted
// order, values in the order they were set; hex data wrapped at 80 columns.
std::string ExportTree(const Tree& tree);
std::string ExportKey(const Key& key, std::u16string_view fullName);

}  // namespace platform::registry
