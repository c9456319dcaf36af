// Private to the port library: what a port name asks for. Pure parsing, so
// that it can be tested and fuzzed without opening anything.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace farsend {

constexpr const char* kDefaultTcpPort = "9100";

enum class TargetKind { Unknown, Tcp, Path, Irda };

struct Target {
    TargetKind kind = TargetKind::Unknown;
    std::string host;  // Tcp: name or address, without brackets
    std::string port;  // Tcp: decimal 1..65535
    std::string path;  // Path: UTF-8
};

// Strict UTF-16 to UTF-8: an unpaired surrogate gives nothing.
std::optional<std::string> Utf16ToUtf8(std::u16string_view text);

// "host", "host:port", "[v6]", "[v6]:port" (the part after "TCP:").
// Nothing for an empty host, a bad port or an unbracketed IPv6 address.
std::optional<Target> ParseTcpAddress(std::string_view text);

// Classifies a whole port name; Unknown for what the library cannot open.
Target ParsePortName(std::u16string_view name);

}  // namespace farsend
