/* A client of the Ondrel exports, in C: it shows the library's
 * identification, converts a bitmap file into raster rows and writes them,
 * as the raster image command GS v 0 of ESC/POS receipt printers, to a file
 * or device through the library's file calls.
 *
 *   ondrel-client IMAGE WIDTH HEIGHT OUTPUT
 *
 * The image is scaled to WIDTH x HEIGHT dots (WIDTH a multiple of 8, as the
 * command takes whole bytes). Exit status 0 when everything was written. */
#include <stdio.h>
#include <stdlib.h>

#include <pressel/Ondrel.h>

enum { kRasterRows = 2 }; /* BMPComputeSize's layout: raster rows, top row first */

/* UTF-8 to the UTF-16 the library takes; free it. NULL when it cannot be had. */
static WCHAR* Wide(const char* text) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, NULL, 0);
    WCHAR* wide = units > 0 ? malloc((size_t)units * sizeof *wide) : NULL;
    if (wide) MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, units);
    return wide;
}

static int WriteAll(HANDLE file, const BYTE* bytes, DWORD count) {
    DWORD written = 0;
    return WriteFile_Interop(file, bytes, count, &written, NULL) && written == count;
}

/* Converts the image; its rows in *rows (to free) and their size, or -1. */
static int Convert(const char* image, int width, int height, BYTE** rows) {
    WCHAR* name = Wide(image);
    int size = name ? BMPComputeSize(height, width, width, name, kRasterRows, 0, 0) : -1;
    free(name);
    *rows = size > 0 ? malloc((size_t)size) : NULL;
    if (!*rows) {
        BMPDelete();
        return -1;
    }
    BMPGetBits(*rows);
    return size;
}

static int Send(const char* output, int width, int height, const BYTE* rows, int size) {
    WCHAR* name = Wide(output);
    HANDLE out = name ? CreateFile_Interop(name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL)
                      : INVALID_HANDLE_VALUE;
    free(name);
    if (out == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "ondrel-client: cannot open %s (error %u)\n", output, GetLastError());
        return 0;
    }
    /* GS v 0, normal size, then the width in bytes and the height in dots, low byte first. */
    int widthBytes = width / 8;
    const BYTE command[] = {0x1D, 0x76, 0x30, 0x00, (BYTE)(widthBytes & 0xFF), (BYTE)(widthBytes >> 8),
                            (BYTE)(height & 0xFF), (BYTE)(height >> 8)};
    int ok = WriteAll(out, command, sizeof command) && WriteAll(out, rows, (DWORD)size);
    if (!ok) fprintf(stderr, "ondrel-client: writing to %s failed (error %u)\n", output, GetLastError());
    CloseHandle_Interop(out);
    return ok;
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: ondrel-client IMAGE WIDTH HEIGHT OUTPUT\n");
        return 2;
    }
    int width = atoi(argv[2]), height = atoi(argv[3]);
    if (width < 8 || width % 8 != 0 || width > 0xFFFF * 8 || height < 1 || height > 0xFFFF) {
        fprintf(stderr, "ondrel-client: WIDTH must be a multiple of 8, HEIGHT at least 1\n");
        return 2;
    }

    int idLength = OndrelGetId(NULL, 0);
    char* id = calloc((size_t)idLength + 1, 1);
    if (id && OndrelGetId(id, idLength + 1) == idLength) printf("%s\n", id);
    free(id);

    BYTE* rows = NULL;
    int size = Convert(argv[1], width, height, &rows);
    if (size < 0) {
        fprintf(stderr, "ondrel-client: %s could not be converted (error %u)\n", argv[1], GetLastError());
        return 1;
    }
    int sent = Send(argv[4], width, height, rows, size);
    free(rows);
    if (!sent) return 1;
    printf("ondrel-client: %d x %d dots of %s written to %s\n", width, height, argv[1], argv[4]);
    return 0;
}
