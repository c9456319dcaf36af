// Resources of modules: the ".pressel.rsrc" section read from the module's
// file, and FindResourceW and its companions over it.
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "com/rsrc.h"
#include "core/utf.h"
#include "win/base.h"
#include "win/resources.h"

namespace platform::rsrc {
namespace {

uint32_t ReadU32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// A NUL-terminated name within [from, end); false when unterminated.
bool ReadName(const uint8_t* base, size_t* from, size_t end, std::string* out) {
    const uint8_t* start = base + *from;
    const void* nul = std::memchr(start, 0, end - *from);
    if (!nul) return false;
    size_t len = static_cast<const uint8_t*>(nul) - start;
    out->assign(reinterpret_cast<const char*>(start), len);
    *from += len + 1;
    return true;
}

}  // namespace

std::vector<Entry> ParseTable(const uint8_t* data, size_t size) {
    std::vector<Entry> entries;
    size_t pos = 0;
    while (pos + 8 <= size) {
        uint32_t magic = ReadU32(data + pos);
        if (magic == 0) {  // padding between the contributions of two objects
            pos += 8;
            continue;
        }
        if (magic != kRecordMagic || pos + 24 > size) break;
        uint32_t recordSize = ReadU32(data + pos + 4);
        uint32_t dataOffset = ReadU32(data + pos + 16);
        uint32_t dataSize = ReadU32(data + pos + 20);
        if (recordSize < 24 || recordSize % 8 != 0 || recordSize > size - pos) break;
        if (dataOffset < 24 || dataOffset > recordSize || dataSize > recordSize - dataOffset) break;
        Entry e;
        e.type.number = ReadU32(data + pos + 8);
        e.name.number = ReadU32(data + pos + 12);
        size_t at = pos + 24;
        std::string typeName, name;
        if (!ReadName(data, &at, pos + dataOffset, &typeName) || !ReadName(data, &at, pos + dataOffset, &name)) break;
        if ((e.type.number == 0) == typeName.empty() || (e.name.number == 0) == name.empty()) break;
        e.type.name = UpperAscii(typeName);
        e.name.name = UpperAscii(name);
        e.offset = pos + dataOffset;
        e.size = dataSize;
        entries.push_back(std::move(e));
        pos += recordSize;
    }
    return entries;
}

bool FindElfSection(const FileReader& read, uint64_t fileSize, std::string_view name, uint64_t* offset,
                    uint64_t* size, bool* isElf) {
    *isElf = false;
    Elf64_Ehdr eh;
    if (fileSize < sizeof eh || !read(0, sizeof eh, &eh)) return false;
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0) return false;
    *isElf = true;
    if (eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_ident[EI_DATA] != ELFDATA2LSB) return false;
    if (eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_shnum == 0 || eh.e_shstrndx >= eh.e_shnum) return false;
    if (eh.e_shoff > fileSize || uint64_t(eh.e_shnum) * sizeof(Elf64_Shdr) > fileSize - eh.e_shoff) return false;
    std::vector<Elf64_Shdr> sections(eh.e_shnum);
    if (!read(eh.e_shoff, sections.size() * sizeof(Elf64_Shdr), sections.data())) return false;
    const Elf64_Shdr& strtab = sections[eh.e_shstrndx];
    if (strtab.sh_type == SHT_NOBITS || strtab.sh_offset > fileSize || strtab.sh_size > fileSize - strtab.sh_offset ||
        strtab.sh_size > (64u << 20))
        return false;
    std::vector<char> names(strtab.sh_size);
    if (!names.empty() && !read(strtab.sh_offset, names.size(), names.data())) return false;
    for (const Elf64_Shdr& s : sections) {
        if (s.sh_name >= names.size() || s.sh_type == SHT_NOBITS) continue;
        size_t maxLen = names.size() - s.sh_name;
        std::string_view candidate(names.data() + s.sh_name, strnlen(names.data() + s.sh_name, maxLen));
        if (candidate != name) continue;
        if (s.sh_offset > fileSize || s.sh_size > fileSize - s.sh_offset) return false;
        *offset = s.sh_offset;
        *size = s.sh_size;
        return true;
    }
    return false;
}

namespace {

struct CachedFile {
    dev_t dev;
    ino_t ino;
    off_t size;
    struct timespec mtime;
    std::shared_ptr<const FileResources> resources;
};

struct Cache {
    std::mutex mutex;
    std::map<std::string, CachedFile> files;
    // Replaced tables stay alive: pointers into them may have been handed out.
    std::vector<std::shared_ptr<const FileResources>> retired;
};

Cache& TheCache() {
    static auto* cache = new Cache;  // never destroyed: handed-out data lives for the process
    return *cache;
}

bool SameFile(const CachedFile& c, const struct stat& st) {
    return c.dev == st.st_dev && c.ino == st.st_ino && c.size == st.st_size &&
           c.mtime.tv_sec == st.st_mtim.tv_sec && c.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

std::shared_ptr<const FileResources> ReadResources(int fd, uint64_t fileSize, DWORD* error) {
    FileReader reader = [fd](uint64_t offset, size_t n, void* out) {
        size_t done = 0;
        while (done < n) {
            ssize_t got = ::pread(fd, static_cast<char*>(out) + done, n - done, static_cast<off_t>(offset + done));
            if (got <= 0) return false;
            done += static_cast<size_t>(got);
        }
        return true;
    };
    uint64_t offset = 0, size = 0;
    bool isElf = false;
    if (!FindElfSection(reader, fileSize, kSectionName, &offset, &size, &isElf)) {
        *error = isElf ? ERROR_RESOURCE_DATA_NOT_FOUND : ERROR_BAD_FORMAT;
        return nullptr;
    }
    auto result = std::make_shared<FileResources>();
    result->section.resize(size);
    if (size && !reader(offset, size, result->section.data())) {
        *error = ERROR_BAD_FORMAT;
        return nullptr;
    }
    result->entries = ParseTable(result->section.data(), result->section.size());
    return result;
}

bool Matches(const ResourceId& want, const ResourceId& have) {
    return want.number ? want.number == have.number : (have.number == 0 && want.name == have.name);
}

}  // namespace

std::shared_ptr<const FileResources> ResourcesOfFile(const std::string& path, DWORD* error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
        return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = ERROR_BAD_FORMAT;
        return nullptr;
    }
    Cache& cache = TheCache();
    std::lock_guard lock(cache.mutex);
    auto it = cache.files.find(path);
    if (it != cache.files.end() && SameFile(it->second, st)) {
        ::close(fd);
        return it->second.resources;
    }
    auto resources = ReadResources(fd, static_cast<uint64_t>(st.st_size), error);
    ::close(fd);
    if (!resources) return nullptr;
    if (it != cache.files.end()) cache.retired.push_back(it->second.resources);
    cache.files[path] = CachedFile{st.st_dev, st.st_ino, st.st_size, st.st_mtim, resources};
    return resources;
}

ResourceId IdFromArgument(const WCHAR* argument) {
    ResourceId id;
    if (IS_INTRESOURCE(argument)) {
        id.number = static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(argument));
        return id;
    }
    std::string text = ToUtf8(argument);
    if (text.size() > 1 && text[0] == '#' && text.size() <= 6 &&
        std::all_of(text.begin() + 1, text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        uint32_t n = static_cast<uint32_t>(std::stoul(text.substr(1)));
        if (n > 0 && n <= 0xFFFF) {
            id.number = n;
            return id;
        }
    }
    id.name = UpperAscii(text);
    return id;
}

LONG FindInFile(const std::string& path, const ResourceId& type, const ResourceId& name, std::string_view* data) {
    DWORD error = ERROR_SUCCESS;
    auto resources = ResourcesOfFile(path, &error);
    if (!resources) return static_cast<LONG>(error);
    bool typeSeen = false;
    for (const Entry& e : resources->entries) {
        if (!Matches(type, e.type)) continue;
        typeSeen = true;
        if (!Matches(name, e.name)) continue;
        *data = std::string_view(reinterpret_cast<const char*>(resources->section.data()) + e.offset, e.size);
        return ERROR_SUCCESS;
    }
    return typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
}

std::string ModulePath(HMODULE module) {
    WCHAR buffer[4096];
    DWORD n = GetModuleFileNameW(module, buffer, 4096);
    if (n == 0 || n >= 4096) return {};
    return ToUtf8(std::u16string_view(buffer, n));
}

}  // namespace platform::rsrc

namespace {

// What an HRSRC points to: the data of one resource, kept alive by the cache.
struct FoundResource {
    const void* data;
    DWORD size;
};

struct FoundTable {
    std::mutex mutex;
    std::map<std::pair<const void*, DWORD>, FoundResource*> found;
};

FoundTable& Found() {
    static auto* table = new FoundTable;
    return *table;
}

// One FoundResource per distinct resource, so repeated look-ups do not grow.
FoundResource* Remember(const void* data, DWORD size) {
    FoundTable& t = Found();
    std::lock_guard lock(t.mutex);
    FoundResource*& slot = t.found[{data, size}];
    if (!slot) slot = new FoundResource{data, size};
    return slot;
}

}  // namespace

WINBASEAPI HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
    if (!lpName || !lpType) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path = platform::rsrc::ModulePath(hModule);
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::string_view data;
    LONG rc = platform::rsrc::FindInFile(path, platform::rsrc::IdFromArgument(lpType),
                                         platform::rsrc::IdFromArgument(lpName), &data);
    if (rc != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(rc));
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(Remember(data.data(), static_cast<DWORD>(data.size())));
}

WINBASEAPI HGLOBAL WINAPI LoadResource(HMODULE, HRSRC hResInfo) {
    if (!hResInfo) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // The data of an empty resource still needs a non-null handle.
    static const char empty = 0;
    const void* data = reinterpret_cast<FoundResource*>(hResInfo)->data;
    return const_cast<void*>(data ? data : &empty);
}

WINBASEAPI LPVOID WINAPI LockResource(HGLOBAL hResData) { return hResData; }

WINBASEAPI DWORD WINAPI SizeofResource(HMODULE, HRSRC hResInfo) {
    if (!hResInfo) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return reinterpret_cast<FoundResource*>(hResInfo)->size;
}

WINBASEAPI BOOL WINAPI FreeResource(HGLOBAL) { return FALSE; }
