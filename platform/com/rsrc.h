// Private to the platform layer: the resource section of ELF files and the
// version information built from it. The layout is in resources.md.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "win/types.h"

namespace platform::rsrc {

inline constexpr uint32_t kRecordMagic = 0x43535250;  // "PRSC"
inline constexpr const char* kSectionName = ".pressel.rsrc";

// A type or name: a number, or (number 0) an upper-case name.
struct ResourceId {
    uint32_t number = 0;
    std::string name;
};

struct Entry {
    ResourceId type;
    ResourceId name;
    size_t offset = 0;  // of the data within the section
    size_t size = 0;
};

// Reads the records of a section. Zero padding between records (left where
// the linker joined the sections of several objects) is skipped; a malformed
// record ends the table, keeping the records before it.
std::vector<Entry> ParseTable(const uint8_t* data, size_t size);

// Reads n bytes at offset into out; false when the file is shorter.
using FileReader = std::function<bool(uint64_t offset, size_t n, void* out)>;

// Locates a section of a 64-bit little-endian ELF file by name. Returns false
// (with *isElf telling whether the file is ELF at all) when there is none.
bool FindElfSection(const FileReader& read, uint64_t fileSize, std::string_view name, uint64_t* offset,
                    uint64_t* size, bool* isElf);

// The resources of one file, cached for the life of the process (until the
// file changes): the data handed out by LockResource stays valid.
struct FileResources {
    std::vector<uint8_t> section;
    std::vector<Entry> entries;
};

// nullptr with *error a Win32 code (ERROR_FILE_NOT_FOUND, ERROR_BAD_FORMAT,
// ERROR_RESOURCE_DATA_NOT_FOUND for an ELF file without resources).
std::shared_ptr<const FileResources> ResourcesOfFile(const std::string& path, DWORD* error);

// A type or name argument of the Win32 calls: MAKEINTRESOURCE, "#12" or a name.
ResourceId IdFromArgument(const WCHAR* argument);

// Finds a resource in a file; ERROR_SUCCESS or a Win32 code
// (ERROR_RESOURCE_TYPE_NOT_FOUND, ERROR_RESOURCE_NAME_NOT_FOUND, ...).
LONG FindInFile(const std::string& path, const ResourceId& type, const ResourceId& name, std::string_view* data);

// The path of a module handle (NULL: the executable); empty when unknown.
std::string ModulePath(HMODULE module);

// Version text (see resources.md) to a VS_VERSIONINFO block; false when the
// text is malformed.
bool BuildVersionBlock(std::string_view text, std::vector<uint8_t>* block);

}  // namespace platform::rsrc
