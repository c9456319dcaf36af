// A client of the Ondrel exports: it shows the library's identification,
// converts a bitmap file into raster rows and writes them, as the raster
// image command GS v 0 of ESC/POS receipt printers, to a file or device
// through the library's file calls.
//
//   ondrel-client IMAGE WIDTH HEIGHT OUTPUT
//
// The image is scaled to WIDTH x HEIGHT dots (WIDTH a multiple of 8, as the
// command takes whole bytes). Exit status 0 when everything was written.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <pressel/Ondrel.h>

namespace {

constexpr int kRasterRows = 2;  // BMPComputeSize's layout: raster rows, top row first

std::u16string Wide(const char* text) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::u16string wide(units > 0 ? static_cast<size_t>(units) : 1, u'\0');
    if (units > 0) MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), units);
    wide.pop_back();
    return wide;
}

bool WriteAll(HANDLE file, const BYTE* bytes, DWORD count) {
    DWORD written = 0;
    return WriteFile_Interop(file, bytes, count, &written, nullptr) && written == count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: ondrel-client IMAGE WIDTH HEIGHT OUTPUT\n");
        return 2;
    }
    int width = std::atoi(argv[2]), height = std::atoi(argv[3]);
    if (width < 8 || width % 8 != 0 || width > 0xFFFF * 8 || height < 1 || height > 0xFFFF) {
        std::fprintf(stderr, "ondrel-client: WIDTH must be a multiple of 8, HEIGHT at least 1\n");
        return 2;
    }

    int idLength = OndrelGetId(nullptr, 0);
    std::vector<char> id(static_cast<size_t>(idLength) + 1, '\0');
    OndrelGetId(id.data(), idLength + 1);
    std::printf("%s\n", id.data());

    int size = BMPComputeSize(height, width, width, Wide(argv[1]).c_str(), kRasterRows, 0, 0);
    if (size < 0) {
        std::fprintf(stderr, "ondrel-client: %s could not be converted (error %u)\n", argv[1], GetLastError());
        return 1;
    }
    std::vector<BYTE> rows(static_cast<size_t>(size));
    BMPGetBits(rows.data());

    HANDLE out = CreateFile_Interop(Wide(argv[4]).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "ondrel-client: cannot open %s (error %u)\n", argv[4], GetLastError());
        return 1;
    }
    // GS v 0, normal size, then the width in bytes and the height in dots, low byte first.
    int widthBytes = width / 8;
    const BYTE command[] = {0x1D, 0x76, 0x30, 0x00, BYTE(widthBytes & 0xFF), BYTE(widthBytes >> 8),
                            BYTE(height & 0xFF), BYTE(height >> 8)};
    bool ok = WriteAll(out, command, sizeof command) && WriteAll(out, rows.data(), static_cast<DWORD>(rows.size()));
    CloseHandle_Interop(out);
    if (!ok) {
        std::fprintf(stderr, "ondrel-client: writing to %s failed (error %u)\n", argv[4], GetLastError());
        return 1;
    }
    std::printf("ondrel-client: %d x %d dots of %s written to %s\n", width, height, argv[1], argv[4]);
    return 0;
}
