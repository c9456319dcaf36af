// Fuzzes what the printer app reads from outside: PNG and JPEG documents,
// device URIs, the job description and the framed messages between the
// server and its workers. The first byte picks the parser. Whatever the
// input, a parser refuses it or gives a result that survives its own
// round trip.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "printer-app/device_uri.h"
#include "printer-app/image_decode.h"
#include "printer-app/worker_protocol.h"

namespace {

using namespace printer_app;

// The bytes as a file, for the parsers that read one.
int MemoryFile(const uint8_t* data, size_t size) {
    int fd = memfd_create("fuzz", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    for (size_t at = 0; at < size;) {
        ssize_t n = write(fd, data + at, size - at);
        if (n <= 0) std::abort();
        at += static_cast<size_t>(n);
    }
    lseek(fd, 0, SEEK_SET);
    return fd;
}

void Image(const uint8_t* data, size_t size, const char* format) {
    int fd = MemoryFile(data, size);
    GreyImage image;
    std::string why;
    // Small limits: a lying header must not make the decoder allocate.
    if (DecodeImageFile("/proc/self/fd/" + std::to_string(fd), format, 1u << 20, 2048, &image, &why)) {
        if (image.width < 1 || image.height < 1 || image.width > 2048 || image.height > 2048) std::abort();
        if (image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height)) std::abort();
    } else if (why.empty()) {
        std::abort();
    }
    close(fd);
}

void DeviceUri(const std::string& uri) {
    DeviceTarget target;
    if (!ParseDeviceUri(uri, &target) || target.kind == DeviceTarget::Kind::ProfilePort) return;
    DeviceTarget again;
    if (!ParseDeviceUri(DeviceUriFor(target.value), &again) || again.kind != target.kind ||
        again.value != target.value)
        std::abort();
}

void Fields(const std::string& payload) {
    auto fields = DecodeFields(payload);
    if (DecodeFields(EncodeFields(fields)) != fields) std::abort();
}

void Messages(const uint8_t* data, size_t size) {
    int fd = MemoryFile(data, size);
    Msg type;
    std::string payload;
    while (ReadMessage(fd, &type, &payload))
        if (payload.size() > kMaxPayload) std::abort();
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t* rest = data + 1;
    const size_t n = size - 1;
    switch (data[0] % 5) {
        case 0: Image(rest, n, "image/png"); break;
        case 1: Image(rest, n, "image/jpeg"); break;
        case 2: DeviceUri(std::string(reinterpret_cast<const char*>(rest), n)); break;
        case 3: Fields(std::string(reinterpret_cast<const char*>(rest), n)); break;
        default: Messages(rest, n); break;
    }
    return 0;
}
