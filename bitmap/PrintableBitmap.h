// Conversion of a bitmap file into a printable bitmap array: the bytes a line
// printer's graphics mode receives. Compiled into both deliverables.
//
// The array is one bit per dot, 1 = printed (dark) dot, 0 = paper, in one of
// two layouts:
//  - raster rows (layout 2): heightDots rows of RasterRowBytes(lineDots)
//    bytes, top row first, bit 7 of a row's first byte the leftmost dot;
//  - bands (any other layout): 4 * ceil(heightDots / 32) bands of 8 dot rows,
//    each lineDots bytes, one byte per dot column, bit 7 the band's top row.
// Arrays are allocated with malloc; release them with FreePrintableBitmap
// (which is free) in whichever library made them.
#pragma once

#include "win/gdi.h"

constexpr LONG kLayoutRasterRows = 2;

// Bytes per raster row: lineDots / 8, the whole bytes of a dot line. (The
// padded-stride formula this replaces gives the same value for every
// lineDots except those 1 to 7 dots past a multiple of 32, where it would add
// a word of padding the printer never takes and misalign the passes.)
LONG RasterRowBytes(LONG lineDots);

// Size in bytes of the array GetPrintableBitmap makes for these values, or -1
// when it would make none (a non-positive size, a raster line shorter than
// one byte, or more than 2^31 - 1 bytes).
LONG PrintableBitmapSize(LONG heightDots, LONG lineDots, LONG layout);

// Loads fileName and makes the array (see above): the image reduced to one
// bit, turned by rotation (0, 90, 180 or 270: a quarter turn counter-clockwise,
// a half turn, a quarter turn clockwise), scaled to widthDots x heightDots and
// placed offsetDots from the left end of a lineDots-wide line. Returns null
// (and a last error) when the file does not load, a size is not positive, the
// rotation is another value, or an intermediate image cannot be made; every
// graphics object it made is released either way. *pcbArray, if given,
// receives the array's size (-1 for none).
BYTE* GetPrintableBitmap(LONG heightDots, LONG widthDots, LONG lineDots, LPCWSTR fileName, LONG layout,
                         LONG rotation, LONG offsetDots, LONG* pcbArray = nullptr);

void FreePrintableBitmap(BYTE* pArray);

// A 1-bit DIB section, colour 0 white and colour 1 black; a positive height
// gives bottom-up rows. *ppBits receives the pixels.
HBITMAP CreateMonoDib(LONG width, LONG height, BYTE** ppBits);

// True when filling a 1-bit image with the white stock brush gives 0 bits.
BOOL ProbeWhiteIsZero();
// True when copying a white colour pixel into a 1-bit image gives a 0 bit.
BOOL ProbeBlitWhiteIsZero();

// A new 1-bit image holding hImage turned by 90, 180 or 270 (memory rows,
// as bottom-up images are stored), and its bits. Null for other rotations.
HBITMAP RotateMonoDib(LONG rotation, HBITMAP hImage, const BYTE* pBits, BYTE** ppNewBits);

// The raster-row array from the bits of a top-down lineDots-wide target.
BYTE* PackRows(LONG lineDots, LONG rows, const BYTE* pBits);
// The band array from the bits of the target turned by 90 (rows of
// 4 * ceil(heightDots / 32) bytes, one per target column).
BYTE* PackBands(LONG lineDots, LONG heightDots, const BYTE* pBits);
