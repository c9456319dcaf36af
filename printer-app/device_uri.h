// The device of a printer, as its device URI names it:
//   pressel:profile          the port the printer's profile names
//   pressel:/path            a file or device that receives the output
//   pressel:DESCRIPTION      any port description Pressel understands
//                            (COM1:,9600,N,8,1,X  FLPORT  KTSB,COM2:  IRDA
//                             TCP:192.0.2.10:9100)
// Characters that a URI cannot hold (blanks, '%', '?', '#') are written as
// %XX escapes.
#pragma once

#include <string>

namespace printer_app {

inline constexpr const char* kDeviceScheme = "pressel";
inline constexpr const char* kProfilePortUri = "pressel:profile";

struct DeviceTarget {
    enum class Kind { ProfilePort, File, Port };
    Kind kind = Kind::ProfilePort;
    std::string value;  // the path or the port description, decoded
};

// False for another scheme, an empty or undecodable description, or a
// description with control characters.
bool ParseDeviceUri(const std::string& uri, DeviceTarget* target);

// The URI of a file, device or port description (escaped as needed).
std::string DeviceUriFor(const std::string& description);

}  // namespace printer_app
