// GetRegString: the "FLPort" value of a key under HKEY_LOCAL_MACHINE.
#include "Ondrel.h"
#include "win/registry.h"

ONDREL_API int GetRegString(LPCWSTR keyPath, LPVOID lpBuffer, int* pSize) {
    if (!pSize) return -1;
    DWORD capacity = *pSize > 0 ? static_cast<DWORD>(*pSize) : 0;
    *pSize = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        *pSize = -3;
        return -3;
    }
    DWORD type = REG_NONE, length = capacity;
    int result;
    if (RegQueryValueExW(key, u"FLPort", nullptr, &type, static_cast<BYTE*>(lpBuffer), &length) != ERROR_SUCCESS)
        result = -1;
    else if (type == REG_SZ)
        result = static_cast<int>(length);
    else
        result = -2;
    RegCloseKey(key);
    *pSize = result;
    return result;
}
