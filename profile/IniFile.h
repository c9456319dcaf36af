// Reader for INI profile files. The platform has no private-profile service,
// so the control reads the files itself, through a line cache that stays
// loaded until FreeIniCache: every key of one job comes from one reading of
// the file.
#pragma once

#include "win/types.h"

// One non-empty line of the file, without its line end, NUL-terminated.
struct IniLine {
    static constexpr int kTextSize = 261;  // at most 260 bytes of text
    char text[kTextSize];
    IniLine* next;
};

// Head of the cached lines; null when no file is cached.
extern IniLine* g_pIniCache;

// Copies the value of key in section of fileName into out (size units,
// always terminated when size > 0) and returns its length. A missing file,
// section or key leaves the default; a key present with nothing after "="
// gives the empty string. Names are 8-bit in the ANSI code page. The cache is
// loaded on first use and then serves every call, whatever file is named.
int GetIniString(const char* section, const char* key, const char* def, WCHAR* out, int size,
                 const char* fileName);

// Releases every cached line.
void FreeIniCache();

// The steps of GetIniString, exposed for the tests of the reader.
namespace ini_detail {

// Reads lines into the cache unless it already holds a file. An unreadable
// file leaves it empty; a line of more than 260 bytes ends the reading.
void LoadIniCache(const char* fileName);
// Leaves the cursor on the first header that names section (case-insensitive).
BOOL FindIniSection(const char* name);
// Finds the key after the cursor, within its section; copies the line into
// lineOut (IniLine::kTextSize bytes).
BOOL FindIniKey(const char* name, char* lineOut);
// The value of a key line, or null when it has none.
const char* IniValueOf(const char* line);

}  // namespace ini_detail
