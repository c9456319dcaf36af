#include <cstring>
#include <new>
#include <string>

#include "profile/IniFile.h"
#include "win/base.h"
#include "win/wcs.h"

IniLine* g_pIniCache = nullptr;

namespace {

// Where FindIniSection left off and FindIniKey continues.
IniLine* g_pIniCursor = nullptr;

// The file was read one byte per ReadFile call on the device; reading in
// blocks gives the same lines with far fewer calls. A read error counts as
// the end of the file, as it did there.
class IniFileReader {
public:
    explicit IniFileReader(HANDLE file) : m_hFile(file) {}

    // Next byte, or -1 at the end of the file.
    int Next() {
        if (m_nPos == m_nLen) {
            DWORD got = 0;
            if (m_bEnd || !ReadFile(m_hFile, m_abBuf, sizeof m_abBuf, &got, nullptr) || got == 0) {
                m_bEnd = true;
                return -1;
            }
            m_nPos = 0;
            m_nLen = got;
        }
        return static_cast<unsigned char>(m_abBuf[m_nPos++]);
    }
private:
    HANDLE m_hFile;
    char m_abBuf[4096];
    DWORD m_nPos = 0;
    DWORD m_nLen = 0;
    bool m_bEnd = false;
};

bool IsLineEnd(int c) { return c == '\r' || c == '\n'; }

// One line into buffer (IniLine::kTextSize bytes). Returns its length, or 0
// at the end of the file and for a line longer than 260 bytes, which ends
// the reading of the file.
int ReadIniLine(IniFileReader& file, char* buffer) {
    int c;
    do {
        c = file.Next();
    } while (IsLineEnd(c));
    int stored = 0;
    buffer[0] = 0;
    while (c != -1 && !IsLineEnd(c)) {
        if (stored == IniLine::kTextSize - 1) return 0;
        buffer[stored++] = static_cast<char>(c);
        buffer[stored] = 0;
        c = file.Next();
    }
    return stored;
}

// An 8-bit name in the ANSI code page, as UTF-16 for comparison. Names come
// from lines of at most 260 bytes or from 256-byte buffers, so they fit.
struct WideName {
    WCHAR text[IniLine::kTextSize + 1] = {};
    WideName(const char* bytes, int length) {
        if (length > 0) {
            int n = MultiByteToWideChar(CP_ACP, 0, bytes, length, text, IniLine::kTextSize);
            text[n > 0 ? n : 0] = 0;
        }
    }
};

bool NamesMatch(const char* bytes, int length, const char* name) {
    int nameLength = static_cast<int>(strnlen(name, IniLine::kTextSize));
    // No line holds a name longer than 260 bytes.
    if (length > IniLine::kTextSize - 1 || nameLength > IniLine::kTextSize - 1) return false;
    WideName a(bytes, length);
    WideName b(name, nameLength);
    return _wcsicmp(a.text, b.text) == 0;
}

// Converts 8-bit text into out, cut to size - 1 units and terminated.
void CopyToWide(const char* text, WCHAR* out, int size) {
    WCHAR wide[IniLine::kTextSize + 1] = {};
    int length = static_cast<int>(strnlen(text, IniLine::kTextSize - 1));
    if (length > 0) {
        int n = MultiByteToWideChar(CP_ACP, 0, text, length, wide, IniLine::kTextSize);
        wide[n > 0 ? n : 0] = 0;
    }
    int i = 0;
    for (; i < size - 1 && wide[i]; ++i) out[i] = wide[i];
    out[i] = 0;
}

// Converts 8-bit text of any length, for defaults and file names.
std::u16string Widen(const char* text) {
    int length = static_cast<int>(std::strlen(text));
    if (length == 0) return {};
    std::u16string wide(static_cast<size_t>(length), u'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, text, length, wide.data(), length);
    wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return wide;
}

}  // namespace

namespace ini_detail {

void LoadIniCache(const char* fileName) {
    if (g_pIniCache) return;
    std::u16string wideName = Widen(fileName ? fileName : "");
    HANDLE file = CreateFileW(wideName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    IniFileReader reader(file);
    IniLine** tail = &g_pIniCache;
    char line[IniLine::kTextSize];
    while (ReadIniLine(reader, line) != 0) {
        // Out of memory: keep the lines read so far, as if the file ended here.
        auto* node = new (std::nothrow) IniLine;
        if (!node) break;
        std::memset(node->text, 0, sizeof node->text);
        std::strcpy(node->text, line);
        node->next = nullptr;
        *tail = node;
        tail = &node->next;
    }
    CloseHandle(file);
}

BOOL FindIniSection(const char* name) {
    for (g_pIniCursor = g_pIniCache; g_pIniCursor; g_pIniCursor = g_pIniCursor->next) {
        const char* text = g_pIniCursor->text;
        if (text[0] != '[') continue;
        const char* close = std::strchr(text + 1, ']');
        // A header without its bracket hides every later section.
        if (!close) return FALSE;
        if (NamesMatch(text + 1, static_cast<int>(close - text - 1), name)) return TRUE;
    }
    return FALSE;
}

BOOL FindIniKey(const char* name, char* lineOut) {
    if (!g_pIniCursor) return FALSE;
    for (g_pIniCursor = g_pIniCursor->next; g_pIniCursor;) {
        std::memcpy(lineOut, g_pIniCursor->text, IniLine::kTextSize);
        g_pIniCursor = g_pIniCursor->next;
        if (lineOut[0] == '[') return FALSE;
        if (lineOut[0] == ';') continue;
        const char* equals = std::strchr(lineOut, '=');
        int length = equals ? static_cast<int>(equals - lineOut) : static_cast<int>(std::strlen(lineOut));
        if (NamesMatch(lineOut, length, name)) return TRUE;
    }
    return FALSE;
}

const char* IniValueOf(const char* line) {
    const char* p = std::strchr(line, '=');
    if (!p) return nullptr;
    ++p;
    while (*p == ' ' || *p == '\t') ++p;
    return *p ? p : nullptr;
}

}  // namespace ini_detail

int GetIniString(const char* section, const char* key, const char* def, WCHAR* out, int size,
                 const char* fileName) {
    if (!out || size <= 0) return 0;
    std::u16string wideDefault = Widen(def ? def : "");
    int i = 0;
    for (; i < size - 1 && i < static_cast<int>(wideDefault.size()); ++i) out[i] = wideDefault[i];
    out[i] = 0;
    out[size - 1] = 0;

    ini_detail::LoadIniCache(fileName);
    char line[IniLine::kTextSize];
    if (ini_detail::FindIniSection(section ? section : "") && ini_detail::FindIniKey(key ? key : "", line)) {
        const char* value = ini_detail::IniValueOf(line);
        CopyToWide(value ? value : "", out, size);
    }
    return static_cast<int>(wcslen(out));
}

void FreeIniCache() {
    while (g_pIniCache) {
        IniLine* next = g_pIniCache->next;
        delete g_pIniCache;
        g_pIniCache = next;
    }
    g_pIniCursor = nullptr;
}
