// The registry store as a whole, for the pressel command and the registrar:
// importing and exporting .reg text. The Reg* calls are in win/registry.h.
#pragma once

#include <string>
#include <string_view>

#include "win/types.h"

#define PRESSEL_REGISTRY_API __attribute__((visibility("default")))

namespace pressel_registry {

// Path of the store file: $PRESSEL_REGISTRY, else
// $XDG_CONFIG_HOME/pressel/registry.reg, else ~/.config/pressel/registry.reg.
PRESSEL_REGISTRY_API std::string StorePath();

// Merges .reg text (REGEDIT4, or version 5.00 in UTF-8 or UTF-16LE) into the
// store in one locked update. On a parse error nothing changes and *message
// says "line N: ..."; the result is ERROR_SUCCESS or a Win32 error code.
PRESSEL_REGISTRY_API LONG Import(std::string_view bytes, std::string* message);

// Version 5.00 text (UTF-8) of the whole store, or of the subtree of keyPath
// ("HKEY_CURRENT_USER\\Software\\X"; HKCU, HKLM and HKCR are accepted).
// ERROR_FILE_NOT_FOUND when the key does not exist.
PRESSEL_REGISTRY_API LONG Export(std::string_view keyPath, std::string* text);

}  // namespace pressel_registry
