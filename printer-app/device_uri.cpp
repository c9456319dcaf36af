#include "printer-app/device_uri.h"

#include <cstring>

namespace printer_app {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Decode(const std::string& text, std::string* out) {
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) return false;
            int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
            if (hi < 0 || lo < 0) return false;
            c = static_cast<char>(hi * 16 + lo);
            i += 2;
        }
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
        out->push_back(c);
    }
    return true;
}

}  // namespace

bool ParseDeviceUri(const std::string& uri, DeviceTarget* target) {
    const std::string prefix = std::string(kDeviceScheme) + ":";
    if (uri.compare(0, prefix.size(), prefix) != 0) return false;
    std::string description;
    if (!Decode(uri.substr(prefix.size()), &description) || description.empty()) return false;
    if (description == "profile") {
        target->kind = DeviceTarget::Kind::ProfilePort;
        target->value.clear();
    } else {
        target->kind = description[0] == '/' ? DeviceTarget::Kind::File : DeviceTarget::Kind::Port;
        target->value = description;
    }
    return true;
}

std::string DeviceUriFor(const std::string& description) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = std::string(kDeviceScheme) + ":";
    for (unsigned char c : description) {
        if (c <= 0x20 || c >= 0x7F || std::strchr("%?#\"<>\\^`{|}", c)) {
            uri.push_back('%');
            uri.push_back(kHex[c >> 4]);
            uri.push_back(kHex[c & 15]);
        } else {
            uri.push_back(static_cast<char>(c));
        }
    }
    return uri;
}

}  // namespace printer_app
