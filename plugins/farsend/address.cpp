#include "address.h"

#include <algorithm>
#include <cctype>

namespace farsend {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

bool ValidPort(std::string_view port) {
    if (port.empty() || port.size() > 5) return false;
    unsigned value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value >= 1 && value <= 65535;
}

// Host names reach getaddrinfo; refuse what no resolver accepts anyway.
bool ValidHost(std::string_view host) {
    return !host.empty() && std::none_of(host.begin(), host.end(), [](char c) {
        return static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '[' || c == ']';
    });
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::optional<std::string> Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] >= 0xE000) return std::nullopt;
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xDC00 && c < 0xE000) {
            return std::nullopt;
        } else if (c == 0) {
            return std::nullopt;  // would cut the name short in POSIX calls
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::optional<Target> ParseTcpAddress(std::string_view text) {
    Target target;
    target.kind = TargetKind::Tcp;
    std::string_view host;
    std::string_view port = kDefaultTcpPort;
    if (!text.empty() && text.front() == '[') {
        size_t close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = text.substr(1, close - 1);
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return std::nullopt;
            port = rest.substr(1);
        }
    } else {
        size_t colon = text.find(':');
        if (colon == std::string_view::npos) {
            host = text;
        } else {
            // A second colon means an IPv6 address without brackets: its
            // last group cannot be told from a port number.
            if (text.find(':', colon + 1) != std::string_view::npos) return std::nullopt;
            host = text.substr(0, colon);
            port = text.substr(colon + 1);
        }
    }
    if (!ValidHost(host) || !ValidPort(port)) return std::nullopt;
    target.host = host;
    target.port = port;
    return target;
}

Target ParsePortName(std::u16string_view name) {
    auto utf8 = Utf16ToUtf8(name);
    if (!utf8) return {};
    std::string_view text = *utf8;
    if (text.size() == 4 && StartsWithNoCase(text, "IRDA")) return {TargetKind::Irda, {}, {}, {}};
    if (StartsWithNoCase(text, "TCP:")) return ParseTcpAddress(text.substr(4)).value_or(Target{});
    if (!text.empty() && text.front() == '/') {
        Target target;
        target.kind = TargetKind::Path;
        target.path = text;
        return target;
    }
    return {};
}

}  // namespace farsend
