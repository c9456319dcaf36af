// Names of the emulated IrDA neighbourhood: "<id>.<name>.<service>".
#include <algorithm>
#include <cstdio>
#include <map>

#include "winsock/irda.h"

namespace platform::irda {
namespace {

bool NeedsEscape(unsigned char c) { return c < '!' || c > '~' || c == '%' || c == '.' || c == '/'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<DeviceId> ParseId(std::string_view hex) {
    if (hex.size() != 8) return std::nullopt;
    DeviceId id{};
    for (size_t i = 0; i < 4; ++i) {
        int high = HexValue(hex[2 * i]), low = HexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        id[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return id;
}

}  // namespace

std::string EncodeDeviceName(std::string_view name) {
    std::string out;
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (NeedsEscape(u)) {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> DecodeDeviceName(std::string_view encoded) {
    std::string out;
    for (size_t i = 0; i < encoded.size(); ++i) {
        char c = encoded[i];
        if (c == '%') {
            if (i + 2 >= encoded.size()) return std::nullopt;
            int high = HexValue(encoded[i + 1]), low = HexValue(encoded[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            c = static_cast<char>(high << 4 | low);
            i += 2;
        }
        if (c == '\0') return std::nullopt;  // would end the name early
        out += c;
    }
    if (out.size() > kMaxNameBytes) return std::nullopt;
    return out;
}

std::string FormatEntryName(const EntryName& entry) {
    char id[9];
    std::snprintf(id, sizeof id, "%02x%02x%02x%02x", entry.id[0], entry.id[1], entry.id[2], entry.id[3]);
    return std::string(id) + "." + EncodeDeviceName(entry.name) + "." + entry.service;
}

std::optional<EntryName> ParseEntryName(std::string_view file) {
    size_t first = file.find('.');
    if (first == std::string_view::npos) return std::nullopt;
    size_t second = file.find('.', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    auto id = ParseId(file.substr(0, first));
    auto name = DecodeDeviceName(file.substr(first + 1, second - first - 1));
    std::string_view service = file.substr(second + 1);
    if (!id || !name || service.empty() || service.size() > kMaxServiceBytes) return std::nullopt;
    return EntryName{*id, *name, std::string(service), {}};
}

std::optional<int> LsapSelector(std::string_view service) {
    constexpr std::string_view kPrefix = "LSAP-SEL";
    if (service.size() <= kPrefix.size() || service.size() > kPrefix.size() + 3) return std::nullopt;
    if (!std::equal(kPrefix.begin(), kPrefix.end(), service.begin())) return std::nullopt;
    int value = 0;
    for (char c : service.substr(kPrefix.size())) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 127) return std::nullopt;
    return value;
}

bool SameService(std::string_view a, std::string_view b) {
    auto la = LsapSelector(a), lb = LsapSelector(b);
    if (la || lb) return la == lb;
    return a == b;
}

std::vector<DeviceInfo> DevicesFromEntries(const std::vector<EntryName>& entries) {
    std::map<DeviceId, DeviceInfo> byId;
    for (const auto& entry : entries) {
        auto [it, added] = byId.try_emplace(entry.id);
        DeviceInfo& device = it->second;
        if (added) {
            device.id = entry.id;
            device.name = entry.name;
        }
        if (LsapSelector(entry.service)) device.hints1 |= kPrinterHint;
    }
    std::vector<DeviceInfo> devices;
    for (auto& [id, device] : byId) devices.push_back(std::move(device));
    return devices;
}

}  // namespace platform::irda
