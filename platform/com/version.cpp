// Version information: the RT_VERSION resource (text, see resources.md)
// becomes the usual VS_VERSIONINFO block, which VerQueryValueW walks.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "com/rsrc.h"
#include "core/utf.h"
#include "win/base.h"
#include "win/resources.h"
#include "win/wcs.h"

namespace platform::rsrc {
namespace {

struct Node {
    std::u16string key;
    std::vector<uint8_t> value;
    bool text = false;
    size_t valueUnits = 0;  // wValueLength: characters for text, bytes otherwise
    std::vector<Node> children;
};

void Pad4(std::vector<uint8_t>* out) {
    while (out->size() % 4) out->push_back(0);
}

void PutU16(std::vector<uint8_t>* out, uint16_t v) {
    out->push_back(static_cast<uint8_t>(v & 0xFF));
    out->push_back(static_cast<uint8_t>(v >> 8));
}

bool Serialize(const Node& node, std::vector<uint8_t>* out) {
    size_t start = out->size();
    PutU16(out, 0);
    PutU16(out, static_cast<uint16_t>(node.valueUnits));
    PutU16(out, node.text ? 1 : 0);
    for (char16_t c : node.key) PutU16(out, c);
    PutU16(out, 0);
    Pad4(out);
    out->insert(out->end(), node.value.begin(), node.value.end());
    for (const Node& child : node.children) {
        Pad4(out);
        if (!Serialize(child, out)) return false;
    }
    size_t length = out->size() - start;
    if (length > 0xFFFF || node.valueUnits > 0xFFFF) return false;
    (*out)[start] = static_cast<uint8_t>(length & 0xFF);
    (*out)[start + 1] = static_cast<uint8_t>(length >> 8);
    return true;
}

Node TextNode(std::u16string key, const std::u16string& text) {
    Node n;
    n.key = std::move(key);
    n.text = true;
    n.valueUnits = text.size() + 1;
    for (char16_t c : text) {
        n.value.push_back(static_cast<uint8_t>(c & 0xFF));
        n.value.push_back(static_cast<uint8_t>(c >> 8));
    }
    n.value.push_back(0);
    n.value.push_back(0);
    return n;
}

bool ParseVersion(const std::string& text, DWORD* ms, DWORD* ls) {
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
    if (a > 0xFFFF || b > 0xFFFF || c > 0xFFFF || d > 0xFFFF) return false;
    *ms = (a << 16) | b;
    *ls = (c << 16) | d;
    return true;
}

bool ParseNumber(const std::string& text, DWORD* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (*end || v > 0xFFFFFFFFul || text[0] == '-') return false;
    *out = static_cast<DWORD>(v);
    return true;
}

bool IsHexBlockName(const std::string& s) {
    if (s.size() != 8) return false;
    for (char c : s)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace

bool BuildVersionBlock(std::string_view source, std::vector<uint8_t>* block) {
    VS_FIXEDFILEINFO info{};
    info.dwSignature = VS_FFI_SIGNATURE;
    info.dwStrucVersion = VS_FFI_STRUCVERSION;
    info.dwFileFlagsMask = VS_FFI_FILEFLAGSMASK;
    info.dwFileOS = VOS__WINDOWS32;
    info.dwFileType = VFT_DLL;
    bool productSet = false;
    Node strings;
    strings.key = u"StringFileInfo";
    strings.text = true;
    std::vector<DWORD> translations;

    std::istringstream in{std::string(source)};
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        size_t space = line.find_first_of(" \t", first);
        std::string word = line.substr(first, space == std::string::npos ? std::string::npos : space - first);
        std::string rest;
        if (space != std::string::npos) {
            size_t r = line.find_first_not_of(" \t", space);
            if (r != std::string::npos) rest = line.substr(r);
        }
        if (word == "FILEVERSION") {
            if (!ParseVersion(rest, &info.dwFileVersionMS, &info.dwFileVersionLS)) return false;
            if (!productSet) {
                info.dwProductVersionMS = info.dwFileVersionMS;
                info.dwProductVersionLS = info.dwFileVersionLS;
            }
        } else if (word == "PRODUCTVERSION") {
            if (!ParseVersion(rest, &info.dwProductVersionMS, &info.dwProductVersionLS)) return false;
            productSet = true;
        } else if (word == "FILEFLAGSMASK") {
            if (!ParseNumber(rest, &info.dwFileFlagsMask)) return false;
        } else if (word == "FILEFLAGS") {
            if (!ParseNumber(rest, &info.dwFileFlags)) return false;
        } else if (word == "FILEOS") {
            if (!ParseNumber(rest, &info.dwFileOS)) return false;
        } else if (word == "FILETYPE") {
            if (!ParseNumber(rest, &info.dwFileType)) return false;
        } else if (word == "FILESUBTYPE") {
            if (!ParseNumber(rest, &info.dwFileSubtype)) return false;
        } else if (word == "BLOCK") {
            if (!IsHexBlockName(rest)) return false;
            Node table;
            table.key = FromUtf8(rest);
            table.text = true;
            strings.children.push_back(std::move(table));
            DWORD both = static_cast<DWORD>(std::strtoul(rest.c_str(), nullptr, 16));
            translations.push_back((both & 0xFFFF) << 16 | (both >> 16));
        } else if (word == "VALUE") {
            if (strings.children.empty() || rest.empty()) return false;
            size_t gap = rest.find_first_of(" \t");
            std::string key = rest.substr(0, gap);
            std::string value;
            if (gap != std::string::npos) {
                size_t v = rest.find_first_not_of(" \t", gap);
                if (v != std::string::npos) value = rest.substr(v);
            }
            strings.children.back().children.push_back(TextNode(FromUtf8(key), FromUtf8(value)));
        } else {
            return false;
        }
    }

    Node root;
    root.key = u"VS_VERSION_INFO";
    root.valueUnits = sizeof info;
    root.value.resize(sizeof info);
    std::memcpy(root.value.data(), &info, sizeof info);
    if (!strings.children.empty()) root.children.push_back(std::move(strings));
    Node vars;
    vars.key = u"VarFileInfo";
    vars.text = true;
    Node translation;
    translation.key = u"Translation";
    translation.valueUnits = translations.size() * 4;
    translation.value.resize(translations.size() * 4);
    if (!translations.empty()) std::memcpy(translation.value.data(), translations.data(), translation.value.size());
    vars.children.push_back(std::move(translation));
    root.children.push_back(std::move(vars));
    block->clear();
    return Serialize(root, block);
}

}  // namespace platform::rsrc

namespace {

DWORD BuildForFile(LPCWSTR fileName, std::vector<uint8_t>* block) {
    if (!fileName || !*fileName) return ERROR_INVALID_PARAMETER;
    std::string_view text;
    LONG rc = platform::rsrc::FindInFile(platform::ToUtf8(fileName), {16, {}}, {1, {}}, &text);
    if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
    return platform::rsrc::BuildVersionBlock(text, block) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

uint16_t U16At(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

size_t Align4(size_t n) { return (n + 3) & ~size_t(3); }

// One node of a block: where its value and children are, bounded by end.
struct View {
    const uint8_t* base;
    size_t at, end;  // node start, node end
    std::u16string_view key;
    size_t value, valueBytes, valueUnits, children;
};

bool ReadNode(const uint8_t* base, size_t at, size_t limit, View* v) {
    if (at + 6 > limit) return false;
    size_t length = U16At(base + at);
    if (length < 6 || at + length > limit) return false;
    v->base = base;
    v->at = at;
    v->end = at + length;
    size_t k = at + 6, kEnd = k;
    while (kEnd + 2 <= v->end && U16At(base + kEnd) != 0) kEnd += 2;
    if (kEnd + 2 > v->end) return false;
    v->key = std::u16string_view(reinterpret_cast<const char16_t*>(base + k), (kEnd - k) / 2);
    v->valueUnits = U16At(base + at + 2);
    v->valueBytes = U16At(base + at + 4) == 1 ? v->valueUnits * 2 : v->valueUnits;
    v->value = Align4(kEnd + 2);
    if (v->value + v->valueBytes > v->end) return false;
    v->children = Align4(v->value + v->valueBytes);
    return true;
}

bool SameKey(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
        if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
        if (x != y) return false;
    }
    return true;
}

}  // namespace

WINBASEAPI DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, LPDWORD lpdwHandle) {
    if (lpdwHandle) *lpdwHandle = 0;
    std::vector<uint8_t> block;
    DWORD rc = BuildForFile(lptstrFilename, &block);
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return 0;
    }
    return static_cast<DWORD>(block.size());
}

WINBASEAPI BOOL WINAPI GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
    if (!lpData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<uint8_t> block;
    DWORD rc = BuildForFile(lptstrFilename, &block);
    if (rc == ERROR_SUCCESS && dwLen < block.size()) rc = ERROR_INSUFFICIENT_BUFFER;
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return FALSE;
    }
    std::memcpy(lpData, block.data(), block.size());
    return TRUE;
}

WINBASEAPI BOOL WINAPI VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen) {
    if (!pBlock || !lpSubBlock || !lplpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const uint8_t* base = static_cast<const uint8_t*>(pBlock);
    View node;
    if (!ReadNode(base, 0, U16At(base), &node)) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    std::u16string_view path(lpSubBlock);
    size_t pos = 0;
    while (pos < path.size()) {
        size_t slash = path.find(u'\\', pos);
        std::u16string_view part = path.substr(pos, slash == std::u16string_view::npos ? path.npos : slash - pos);
        pos = slash == std::u16string_view::npos ? path.size() : slash + 1;
        if (part.empty()) continue;
        bool found = false;
        for (size_t at = node.children; at < node.end;) {
            View child;
            if (!ReadNode(base, at, node.end, &child)) break;
            if (SameKey(child.key, part)) {
                node = child;
                found = true;
                break;
            }
            at = Align4(child.end);
        }
        if (!found) {
            SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
            return FALSE;
        }
    }
    *lplpBuffer = const_cast<uint8_t*>(base + node.value);
    if (puLen) *puLen = static_cast<UINT>(node.valueUnits);
    return node.valueBytes > 0 ? TRUE : (node.children < node.end ? TRUE : FALSE);
}
