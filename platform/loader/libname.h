// Private to the platform layer: the library file a module name stands for.
#pragma once

#include <string>

namespace platform {

// "X.dll" (any case of the extension, or no extension at all, which the
// device reads as ".dll") -> "libx.so"; a directory part is kept as it is
// ('\' read as '/'). Names ending in ".so" or with another extension are used
// as given.
std::string SharedObjectName(const std::string& moduleName);

}  // namespace platform
