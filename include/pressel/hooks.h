// Test hooks of the platform layer: ways for tests to see what would have
// reached a user, in place of the screen.
#pragma once

#include <functional>
#include <string>

#include "win/types.h"

#define PRESSEL_HOOKS_API __attribute__((visibility("default")))

namespace pressel_hooks {

// Receives every MessageBoxW call (owner, text, caption, style) and gives
// its answer; while set, nothing is written to standard error.
using MessageBoxHook = std::function<int(HWND owner, std::u16string text, std::u16string caption, UINT type)>;

// Installs the hook (an empty function removes it); returns the previous one.
PRESSEL_HOOKS_API MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

}  // namespace pressel_hooks
