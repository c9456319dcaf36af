#include "printer-app/worker_protocol.h"

#include <unistd.h>

#include <cerrno>

namespace printer_app {
namespace {

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, char* data, size_t size) {
    while (size > 0) {
        ssize_t n = read(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

void PutU32(std::string* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint32_t GetU32(std::string_view payload, size_t offset) {
    if (payload.size() < offset + 4) return 0;
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(payload[offset + static_cast<size_t>(i)]);
    return value;
}

bool WriteMessage(int fd, Msg type, std::string_view payload) {
    if (payload.size() > kMaxPayload) return false;
    std::string header(1, static_cast<char>(type));
    PutU32(&header, static_cast<uint32_t>(payload.size()));
    // One write for small messages, so that reports from one side never
    // interleave with each other.
    if (payload.size() <= 4096) {
        header.append(payload);
        return WriteAll(fd, header.data(), header.size());
    }
    return WriteAll(fd, header.data(), header.size()) && WriteAll(fd, payload.data(), payload.size());
}

bool ReadMessage(int fd, Msg* type, std::string* payload) {
    char header[5];
    if (!ReadAll(fd, header, sizeof header)) return false;
    uint32_t length = GetU32(std::string_view(header + 1, 4), 0);
    if (length > kMaxPayload) return false;
    *type = static_cast<Msg>(header[0]);
    payload->resize(length);
    return length == 0 || ReadAll(fd, payload->data(), length);
}

std::string EncodeFields(const std::map<std::string, std::string>& fields) {
    std::string out;
    for (const auto& [key, value] : fields) {
        out.append(key).push_back('\0');
        out.append(value).push_back('\0');
    }
    return out;
}

std::map<std::string, std::string> DecodeFields(std::string_view payload) {
    std::map<std::string, std::string> fields;
    while (!payload.empty()) {
        size_t keyEnd = payload.find('\0');
        if (keyEnd == std::string_view::npos) break;
        size_t valueEnd = payload.find('\0', keyEnd + 1);
        if (valueEnd == std::string_view::npos) break;
        fields[std::string(payload.substr(0, keyEnd))] = std::string(payload.substr(keyEnd + 1, valueEnd - keyEnd - 1));
        payload.remove_prefix(valueEnd + 1);
    }
    return fields;
}

}  // namespace printer_app
