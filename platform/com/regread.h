// Private to the platform layer: registry helpers shared by activation, the
// registrar and type-library registration.
#pragma once

#include <string>

#include "win/ole.h"
#include "win/registry.h"

namespace platform::com {

// A REG_SZ or REG_EXPAND_SZ value (valueName null: the default value),
// without its terminator. Win32 error code on failure.
LONG ReadRegistryText(HKEY root, const std::u16string& path, const WCHAR* valueName, std::u16string* out);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::u16string GuidText(REFGUID guid);

}  // namespace platform::com
