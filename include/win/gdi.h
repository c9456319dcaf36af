// Graphics calls of the platform layer: bitmap loading, device-independent
// bitmaps, memory device contexts, stock brushes and block transfers.
// Structures follow the Windows x64 layouts, so code written against the
// usual declarations reads and sizes them unchanged.
#pragma once

#include "win/errors.h"
#include "win/types.h"

typedef DWORD COLORREF;
#define RGB(r, g, b) ((COLORREF)(((BYTE)(r)) | ((WORD)((BYTE)(g)) << 8) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(rgb) ((BYTE)((rgb) & 0xFF))
#define GetGValue(rgb) ((BYTE)(((rgb) >> 8) & 0xFF))
#define GetBValue(rgb) ((BYTE)(((rgb) >> 16) & 0xFF))
#define CLR_INVALID 0xFFFFFFFFu

#pragma pack(push, 2)
typedef struct tagBITMAPFILEHEADER {
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
} BITMAPFILEHEADER, *LPBITMAPFILEHEADER;
#pragma pack(pop)

typedef struct tagBITMAPCOREHEADER {
    DWORD bcSize;
    WORD bcWidth;
    WORD bcHeight;
    WORD bcPlanes;
    WORD bcBitCount;
} BITMAPCOREHEADER;

typedef struct tagBITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER, *LPBITMAPINFOHEADER, *PBITMAPINFOHEADER;

typedef struct tagRGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
} RGBQUAD;

typedef struct tagRGBTRIPLE {
    BYTE rgbtBlue;
    BYTE rgbtGreen;
    BYTE rgbtRed;
} RGBTRIPLE;

typedef struct tagBITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO, *LPBITMAPINFO, *PBITMAPINFO;

typedef struct tagBITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
} BITMAP, *PBITMAP, *LPBITMAP;

typedef struct tagDIBSECTION {
    BITMAP dsBm;
    BITMAPINFOHEADER dsBmih;
    DWORD dsBitfields[3];
    HANDLE dshSection;
    DWORD dsOffset;
} DIBSECTION, *LPDIBSECTION, *PDIBSECTION;

typedef struct tagLOGBRUSH {
    UINT lbStyle;
    COLORREF lbColor;
    ULONG_PTR lbHatch;
} LOGBRUSH;

static_assert(sizeof(BITMAPFILEHEADER) == 14, "packed file header");
static_assert(sizeof(BITMAPCOREHEADER) == 12, "OS/2 core header");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "info header");
static_assert(sizeof(RGBQUAD) == 4 && sizeof(RGBTRIPLE) == 3, "colour entries");
static_assert(sizeof(BITMAPINFO) == 44, "info header and one colour");
static_assert(sizeof(BITMAP) == 32, "BITMAP has a pointer at 24 on x64");
static_assert(sizeof(DIBSECTION) == 104, "DIBSECTION on x64");
static_assert(offsetof(DIBSECTION, dshSection) == 88, "DIBSECTION on x64");
static_assert(sizeof(LOGBRUSH) == 16, "LOGBRUSH on x64");

// Compression.
#define BI_RGB 0u
#define BI_RLE8 1u
#define BI_RLE4 2u
#define BI_BITFIELDS 3u
#define BI_JPEG 4u
#define BI_PNG 5u
#define BI_ALPHABITFIELDS 6u

// Colour table usage.
#define DIB_RGB_COLORS 0u
#define DIB_PAL_COLORS 1u

// Raster operations.
#define SRCCOPY 0x00CC0020u
#define SRCPAINT 0x00EE0086u
#define SRCAND 0x008800C6u
#define SRCINVERT 0x00660046u
#define NOTSRCCOPY 0x00330008u
#define DSTINVERT 0x00550009u
#define PATCOPY 0x00F00021u
#define BLACKNESS 0x00000042u
#define WHITENESS 0x00FF0062u

// Stock objects.
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8

// Object types (GetObjectType).
#define OBJ_PEN 1
#define OBJ_BRUSH 2
#define OBJ_DC 3
#define OBJ_BITMAP 7
#define OBJ_MEMDC 10

// Brush styles.
#define BS_SOLID 0u
#define BS_NULL 1u
#define BS_HOLLOW BS_NULL

// GetDeviceCaps indices.
#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define PLANES 14
#define NUMCOLORS 24
#define LOGPIXELSX 88
#define LOGPIXELSY 90

// DrawTextW formats.
#define DT_TOP 0x00000000u
#define DT_LEFT 0x00000000u
#define DT_CENTER 0x00000001u
#define DT_RIGHT 0x00000002u
#define DT_VCENTER 0x00000004u
#define DT_BOTTOM 0x00000008u
#define DT_WORDBREAK 0x00000010u
#define DT_SINGLELINE 0x00000020u
#define DT_NOCLIP 0x00000100u
#define DT_CALCRECT 0x00000400u

// Loads a BMP file into a device-independent bitmap; null (and a last error)
// when the file is missing or not a bitmap this layer accepts.
WINBASEAPI HBITMAP WINAPI SHLoadDIBitmap(LPCWSTR szFileName);

WINBASEAPI HBITMAP WINAPI CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits,
                                           HANDLE hSection, DWORD offset);
WINBASEAPI HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy);
WINBASEAPI HDC WINAPI CreateCompatibleDC(HDC hdc);
WINBASEAPI BOOL WINAPI DeleteDC(HDC hdc);
WINBASEAPI HDC WINAPI GetDC(HWND hWnd);
WINBASEAPI int WINAPI ReleaseDC(HWND hWnd, HDC hDC);
WINBASEAPI int WINAPI GetDeviceCaps(HDC hdc, int index);

WINBASEAPI HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h);
WINBASEAPI int WINAPI GetObjectW(HGDIOBJ h, int c, LPVOID pv);
WINBASEAPI DWORD WINAPI GetObjectType(HGDIOBJ h);
WINBASEAPI HGDIOBJ WINAPI GetStockObject(int i);
WINBASEAPI BOOL WINAPI DeleteObject(HGDIOBJ ho);
WINBASEAPI HBRUSH WINAPI CreateSolidBrush(COLORREF color);

WINBASEAPI int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr);
WINBASEAPI BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop);
WINBASEAPI BOOL WINAPI StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc,
                                  int xSrc, int ySrc, int wSrc, int hSrc, DWORD rop);
WINBASEAPI COLORREF WINAPI GetPixel(HDC hdc, int x, int y);
WINBASEAPI COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color);

// Live graphics objects of the process (GR_GDIOBJECTS): bitmaps, device
// contexts, brushes and pens, stock objects not counted.
#define GR_GDIOBJECTS 0u
WINBASEAPI DWORD WINAPI GetGuiResources(HANDLE hProcess, DWORD uiFlags);

// Design-time drawing of the control.
WINBASEAPI BOOL WINAPI Rectangle(HDC hdc, int left, int top, int right, int bottom);
WINBASEAPI int WINAPI DrawTextW(HDC hdc, LPCWSTR lpchText, int cchText, LPRECT lprc, UINT format);
