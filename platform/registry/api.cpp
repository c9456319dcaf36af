// The Reg* calls over the store: each call resolves its key handle to a hive
// and path, then reads or changes the tree through ReadStore/WriteStore.
// Key handles live in the process-wide handle table and name their key by
// path, so a key deleted (here or by another process) while open answers
// ERROR_KEY_DELETED.
#include <cstring>

#include "core/handles.h"
#include "core/trace.h"
#include "core/utf.h"
#include "pressel/registry.h"
#include "registry/store.h"
#include "win/base.h"
#include "win/registry.h"

namespace platform::registry {
namespace {

class RegKeyObject : public KernelObject {
public:
    RegKeyObject(Hive h, Path p, REGSAM a) : hive(h), path(std::move(p)), access(a) {}
    Hive hive;
    Path path;
    REGSAM access;
};

struct KeyRef {
    Hive hive;
    Path path;
    REGSAM access;
};

// Reg* calls return their code; failures also set the last error, so that
// callers that only look at GetLastError learn why.
LONG Done(LONG rc) {
    if (rc != ERROR_SUCCESS) SetLastError(DWORD(rc));
    return rc;
}

LONG Resolve(HKEY hKey, KeyRef* ref) {
    static const HKEY kRoots[kHiveCount] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
    for (int i = 0; i < kHiveCount; ++i)
        if (hKey == kRoots[i]) {
            *ref = {Hive(i), {}, KEY_ALL_ACCESS};
            return ERROR_SUCCESS;
        }
    DWORD saved = GetLastError();
    auto object = LookupHandleAs<RegKeyObject>(reinterpret_cast<HANDLE>(hKey));
    SetLastError(saved);
    if (!object) return ERROR_INVALID_HANDLE;
    *ref = {object->hive, object->path, object->access};
    return ERROR_SUCCESS;
}

LONG Allowed(const KeyRef& ref, REGSAM need) { return (ref.access & need) == need ? ERROR_SUCCESS : ERROR_ACCESS_DENIED; }

// ref's path extended by a subkey name; null and empty add nothing.
LONG Extend(const KeyRef& ref, LPCWSTR subKey, Path* path) {
    Path rest;
    if (subKey && !SplitPath(std::u16string_view(subKey), &rest)) return ERROR_INVALID_PARAMETER;
    *path = ref.path;
    path->insert(path->end(), rest.begin(), rest.end());
    return ERROR_SUCCESS;
}

LONG NewHandle(Hive hive, Path path, REGSAM access, PHKEY result) {
    HANDLE h = AddHandle(std::make_shared<RegKeyObject>(hive, std::move(path), access));
    if (h == INVALID_HANDLE_VALUE) return LONG(GetLastError());
    *result = reinterpret_cast<HKEY>(h);
    return ERROR_SUCCESS;
}

std::u16string ValueName(LPCWSTR name) { return name ? std::u16string(name) : std::u16string(); }

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Copies value data with the Win32 size rules: a null buffer asks the size,
// a short one gets ERROR_MORE_DATA and the size needed. A string stored
// without its terminator gets one when there is room (not counted).
LONG CopyData(const Value& v, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpType) *lpType = v.type;
    if (!lpcbData) return ERROR_SUCCESS;
    DWORD size = DWORD(v.data.size());
    if (!lpData) {
        *lpcbData = size;
        return ERROR_SUCCESS;
    }
    DWORD capacity = *lpcbData;
    *lpcbData = size;
    if (capacity < size) return ERROR_MORE_DATA;
    if (size) std::memcpy(lpData, v.data.data(), size);
    bool terminated = size >= 2 && size % 2 == 0 && v.data[size - 1] == 0 && v.data[size - 2] == 0;
    if (IsStringType(v.type) && !terminated && capacity >= size + 2 + size % 2) {
        std::memset(lpData + size, 0, 2 + size % 2);
    }
    return ERROR_SUCCESS;
}

// Copies a name with its terminator into a buffer of *cch characters.
LONG CopyName(const std::u16string& name, LPWSTR out, LPDWORD cch) {
    if (*cch < name.size() + 1) return ERROR_MORE_DATA;
    std::memcpy(out, name.data(), name.size() * sizeof(WCHAR));
    out[name.size()] = 0;
    *cch = DWORD(name.size());
    return ERROR_SUCCESS;
}

// The key a handle names, once its access allows `need`: read under the
// store's lock, or changed and written back. A key deleted while the handle
// was open answers ERROR_KEY_DELETED.
template <typename Read>
LONG ReadKey(HKEY hKey, REGSAM need, Read&& read) {
    KeyRef ref;
    if (LONG rc = Resolve(hKey, &ref)) return rc;
    if (LONG rc = Allowed(ref, need)) return rc;
    return ReadStore([&](const Tree& tree) -> LONG {
        const Key* key = FindKey(tree, ref.hive, ref.path);
        return key ? read(*key) : ERROR_KEY_DELETED;
    });
}

template <typename Change>
LONG ChangeKey(HKEY hKey, REGSAM need, Change&& change) {
    KeyRef ref;
    if (LONG rc = Resolve(hKey, &ref)) return rc;
    if (LONG rc = Allowed(ref, need)) return rc;
    return WriteStore([&](Tree& tree, bool* changed) -> LONG {
        Key* key = FindKey(tree, ref.hive, ref.path);
        return key ? change(*key, changed) : ERROR_KEY_DELETED;
    });
}

}  // namespace
}  // namespace platform::registry

using namespace platform::registry;

WINBASEAPI LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    PLATFORM_TRACE("RegOpenKeyExW(%s)", platform::ToUtf8(lpSubKey).c_str());
    if (!phkResult) return Done(ERROR_INVALID_PARAMETER);
    *phkResult = nullptr;
    KeyRef ref;
    Path path;
    if (LONG rc = Resolve(hKey, &ref)) return Done(rc);
    if (LONG rc = Extend(ref, lpSubKey, &path)) return Done(rc);
    LONG rc = ReadStore([&](const Tree& tree) -> LONG {
        if (!FindKey(tree, ref.hive, ref.path)) return ERROR_KEY_DELETED;
        return FindKey(tree, ref.hive, path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
    if (rc == ERROR_SUCCESS) rc = NewHandle(ref.hive, std::move(path), samDesired, phkResult);
    return Done(rc);
}

WINBASEAPI LONG WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                                       LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
    PLATFORM_TRACE("RegCreateKeyExW(%s)", platform::ToUtf8(lpSubKey).c_str());
    if (!phkResult) return Done(ERROR_INVALID_PARAMETER);
    *phkResult = nullptr;
    KeyRef ref;
    Path path;
    if (LONG rc = Resolve(hKey, &ref)) return Done(rc);
    if (LONG rc = Extend(ref, lpSubKey, &path)) return Done(rc);
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    LONG rc = WriteStore([&](Tree& tree, bool* changed) -> LONG {
        if (!FindKey(tree, ref.hive, ref.path)) return ERROR_KEY_DELETED;
        if (FindKey(tree, ref.hive, path)) return ERROR_SUCCESS;
        if (LONG denied = Allowed(ref, KEY_CREATE_SUB_KEY)) return denied;
        CreateKey(tree, ref.hive, path);
        disposition = REG_CREATED_NEW_KEY;
        *changed = true;
        return ERROR_SUCCESS;
    });
    if (rc == ERROR_SUCCESS) rc = NewHandle(ref.hive, std::move(path), samDesired, phkResult);
    if (rc == ERROR_SUCCESS && lpdwDisposition) *lpdwDisposition = disposition;
    return Done(rc);
}

WINBASEAPI LONG WINAPI RegCloseKey(HKEY hKey) {
    PLATFORM_TRACE("RegCloseKey");
    KeyRef ref;
    if (LONG rc = Resolve(hKey, &ref)) return Done(rc);
    if (hKey == HKEY_CLASSES_ROOT || hKey == HKEY_CURRENT_USER || hKey == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    platform::RemoveHandle(reinterpret_cast<HANDLE>(hKey));
    return ERROR_SUCCESS;
}

WINBASEAPI LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                        LPBYTE lpData, LPDWORD lpcbData) {
    PLATFORM_TRACE("RegQueryValueExW(%s)", platform::ToUtf8(lpValueName).c_str());
    if (lpReserved || (lpData && !lpcbData)) return Done(ERROR_INVALID_PARAMETER);
    return Done(ReadKey(hKey, KEY_QUERY_VALUE, [&](const Key& key) -> LONG {
        const Value* v = const_cast<Key&>(key).FindValue(ValueName(lpValueName));
        if (!v) return ERROR_FILE_NOT_FOUND;
        return CopyData(*v, lpType, lpData, lpcbData);
    }));
}

WINBASEAPI LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                                      DWORD cbData) {
    PLATFORM_TRACE("RegSetValueExW(%s)", platform::ToUtf8(lpValueName).c_str());
    if (!lpData && cbData) return Done(ERROR_NOACCESS);
    Value value;
    value.name = ValueName(lpValueName);
    // The store is line-oriented text: a name with a line break could not be
    // written back, so it is refused rather than corrupting the file.
    if (value.name.size() > kMaxValueNameLength || !ValidName(value.name))
        return Done(ERROR_INVALID_PARAMETER);
    value.type = dwType;
    if (cbData) value.data.assign(lpData, lpData + cbData);
    return Done(ChangeKey(hKey, KEY_SET_VALUE, [&](Key& key, bool* changed) -> LONG {
        key.SetValue(std::move(value));
        *changed = true;
        return ERROR_SUCCESS;
    }));
}

WINBASEAPI LONG WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                                     LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData)) return Done(ERROR_INVALID_PARAMETER);
    return Done(ReadKey(hKey, KEY_QUERY_VALUE, [&](const Key& key) -> LONG {
        if (dwIndex >= key.values.size()) return ERROR_NO_MORE_ITEMS;
        const Value& v = key.values[dwIndex];
        if (LONG rc = CopyName(v.name, lpValueName, lpcchValueName)) return rc;
        return CopyData(v, lpType, lpData, lpcbData);
    }));
}

WINBASEAPI LONG WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                                     LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass)) return Done(ERROR_INVALID_PARAMETER);
    return Done(ReadKey(hKey, KEY_ENUMERATE_SUB_KEYS, [&](const Key& key) -> LONG {
        if (dwIndex >= key.subkeys.size()) return ERROR_NO_MORE_ITEMS;
        if (LONG rc = CopyName(key.subkeys[dwIndex].name, lpName, lpcchName)) return rc;
        // Keys carry no class and no write time here.
        if (lpClass && *lpcchClass) lpClass[0] = 0;
        if (lpcchClass) *lpcchClass = 0;
        if (lpftLastWriteTime) *lpftLastWriteTime = {0, 0};
        return ERROR_SUCCESS;
    }));
}

WINBASEAPI LONG WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                        LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                        LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                        LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
    if (lpReserved || (lpClass && !lpcchClass)) return Done(ERROR_INVALID_PARAMETER);
    return Done(ReadKey(hKey, KEY_QUERY_VALUE, [&](const Key& key) -> LONG {
        DWORD maxSub = 0, maxName = 0, maxData = 0;
        for (const auto& k : key.subkeys) maxSub = std::max(maxSub, DWORD(k.name.size()));
        for (const auto& v : key.values) {
            maxName = std::max(maxName, DWORD(v.name.size()));
            maxData = std::max(maxData, DWORD(v.data.size()));
        }
        if (lpClass && *lpcchClass) lpClass[0] = 0;
        if (lpcchClass) *lpcchClass = 0;
        if (lpcSubKeys) *lpcSubKeys = DWORD(key.subkeys.size());
        if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = maxSub;
        if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
        if (lpcValues) *lpcValues = DWORD(key.values.size());
        if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = maxName;
        if (lpcbMaxValueLen) *lpcbMaxValueLen = maxData;
        if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
        if (lpftLastWriteTime) *lpftLastWriteTime = {0, 0};
        return ERROR_SUCCESS;
    }));
}

WINBASEAPI LONG WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    return Done(ChangeKey(hKey, KEY_SET_VALUE, [&](Key& key, bool* changed) -> LONG {
        if (!key.RemoveValue(ValueName(lpValueName))) return ERROR_FILE_NOT_FOUND;
        *changed = true;
        return ERROR_SUCCESS;
    }));
}

WINBASEAPI LONG WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    if (!lpSubKey) return Done(ERROR_INVALID_PARAMETER);
    KeyRef ref;
    Path path;
    if (LONG rc = Resolve(hKey, &ref)) return Done(rc);
    if (LONG rc = Extend(ref, lpSubKey, &path)) return Done(rc);
    return Done(WriteStore([&](Tree& tree, bool* changed) -> LONG {
        if (!FindKey(tree, ref.hive, ref.path)) return ERROR_KEY_DELETED;
        const Key* key = FindKey(tree, ref.hive, path);
        if (!key) return ERROR_FILE_NOT_FOUND;
        // As on Windows: roots and keys with subkeys are not deleted.
        if (path.empty() || !key->subkeys.empty()) return ERROR_ACCESS_DENIED;
        DeleteTree(tree, ref.hive, path);
        *changed = true;
        return ERROR_SUCCESS;
    }));
}

WINBASEAPI LONG WINAPI RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
    KeyRef ref;
    Path path;
    if (LONG rc = Resolve(hKey, &ref)) return Done(rc);
    if (LONG rc = Extend(ref, lpSubKey, &path)) return Done(rc);
    bool keepKey = path.size() == ref.path.size();  // no subkey: empty the key itself
    if (keepKey) {
        if (LONG rc = Allowed(ref, KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS)) return Done(rc);
    }
    return Done(WriteStore([&](Tree& tree, bool* changed) -> LONG {
        if (!FindKey(tree, ref.hive, ref.path)) return ERROR_KEY_DELETED;
        Key* key = FindKey(tree, ref.hive, path);
        if (!key) return ERROR_FILE_NOT_FOUND;
        if (keepKey) {
            *changed = !key->values.empty() || !key->subkeys.empty();
            key->values.clear();
            key->subkeys.clear();
        } else {
            DeleteTree(tree, ref.hive, path);
            *changed = true;
        }
        return ERROR_SUCCESS;
    }));
}

WINBASEAPI LONG WINAPI RegFlushKey(HKEY hKey) {
    // Every change is on disk when its call returns; only the handle is checked.
    KeyRef ref;
    if (LONG rc = Resolve(hKey, &ref)) return Done(rc);
    return Done(ReadStore([&](const Tree& tree) -> LONG {
        return FindKey(tree, ref.hive, ref.path) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
    }));
}

namespace pressel_registry {

std::string StorePath() { return StoreFilePath(); }

LONG Import(std::string_view bytes, std::string* message) {
    std::vector<Op> ops;
    ParseError error;
    if (!ParseRegText(bytes, &ops, &error)) {
        if (message)
            *message = error.line ? "line " + std::to_string(error.line) + ": " + error.message : error.message;
        return ERROR_INVALID_DATA;
    }
    LONG rc = WriteStore([&](Tree& tree, bool* changed) -> LONG {
        ApplyOps(tree, ops);
        *changed = !ops.empty();
        return ERROR_SUCCESS;
    });
    if (rc && message) *message = rc == ERROR_REGISTRY_CORRUPT ? "the registry file is malformed" : "cannot write the registry file";
    return rc;
}

LONG Export(std::string_view keyPath, std::string* text) {
    Hive hive = kCurrentUser;
    Path path;
    bool whole = keyPath.empty();
    if (!whole && !ParseKeyPath(platform::FromUtf8(keyPath), &hive, &path)) return ERROR_INVALID_PARAMETER;
    return ReadStore([&](const Tree& tree) -> LONG {
        if (whole) {
            *text = ExportTree(tree);
            return ERROR_SUCCESS;
        }
        // The name as stored, whatever case the caller used.
        const Key* key = &tree.roots[hive];
        std::u16string name = kHiveNames[hive];
        for (const auto& part : path) {
            if (!(key = const_cast<Key*>(key)->FindSubkey(part))) return ERROR_FILE_NOT_FOUND;
            name += u"\\" + key->name;
        }
        *text = ExportKey(*key, name);
        return ERROR_SUCCESS;
    });
}

}  // namespace pressel_registry
