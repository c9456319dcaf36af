// Private to the platform layer: "COMn:" names and the device behind them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::serial {

// The port number of "COMn:", "COMn" or "\\.\COMn" (any letter case,
// n = 1..255 without leading zeros); nullopt for every other name.
std::optional<int> ComPortNumber(std::u16string_view name);

// The device path of port n: the REG_SZ value "COMn:" under
// HKEY_LOCAL_MACHINE\System\DosDevices, else (no such value) /dev/ttyS<n-1>.
// nullopt, with the last error set, when the value is there but unusable
// (not a string, empty: ERROR_BAD_PATHNAME).
std::optional<std::string> ComDevicePath(int number);

}  // namespace platform::serial
