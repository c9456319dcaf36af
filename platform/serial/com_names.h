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
// HKEY_LOCAL_MACHINE\System\DosDevices, else /dev/ttyS<n-1>.
std::string ComDevicePath(int number);

}  // namespace platform::serial
