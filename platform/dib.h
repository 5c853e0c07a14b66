// SPDX-License-Identifier: MIT
// Device-independent bitmaps and the drawing between them.
//
// A raster with 1, 4, 8 or 24 bits per pixel, a colour table, and rows padded to 4 bytes,
// bottom-up for a positive height and top-down for a negative one. The structures have the
// exact Windows layouts, so the bytes of a header and colour table can be written to and
// read from BMP files and the thumbnail cache as they are.
//
// Drawing works raster to raster through a device context (the "memory DC"): a bitmap is
// selected into it and the functions below draw into that bitmap. There is no screen
// here; queries about the screen answer a true-colour screen of 32 bits per pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace pix {

struct BITMAPINFOHEADER {
    std::uint32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight;
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;
    std::uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
    std::uint8_t rgbBlue;
    std::uint8_t rgbGreen;
    std::uint8_t rgbRed;
    std::uint8_t rgbReserved;
};
static_assert(sizeof(RGBQUAD) == 4);

// A header directly followed by its colour table (bmiColors has as many entries as the
// block holds; index past [0] only within the block).
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};
static_assert(sizeof(BITMAPINFO) == 44);

struct PALETTEENTRY {
    std::uint8_t peRed;
    std::uint8_t peGreen;
    std::uint8_t peBlue;
    std::uint8_t peFlags;
};
static_assert(sizeof(PALETTEENTRY) == 4);

inline constexpr std::uint32_t BI_RGB = 0;
inline constexpr unsigned DIB_RGB_COLORS = 0;
inline constexpr std::uint32_t SRCCOPY = 0x00CC0020;
inline constexpr int COLORONCOLOR = 3;
inline constexpr int HALFTONE = 4;
inline constexpr int BITSPIXEL = 12;
inline constexpr int PLANES = 14;

// Row size in bytes of a raster: rows are padded to a multiple of 4 bytes. 64-bit, so that
// no width can overflow it.
constexpr std::uint64_t DibBytesPerLine(std::int64_t width, int bitCount) {
    return ((static_cast<std::uint64_t>(width < 0 ? -width : width) *
                 static_cast<std::uint64_t>(bitCount) +
             31) /
            32) *
           4;
}

// Number of colour-table entries a header implies: for 1, 4 and 8 bits, biClrUsed when it is
// not 0 (capped at 2^bitCount), else 2^bitCount; 0 for every other bit count (a biClrUsed
// beside 24-bit pixels names no table that the records of this program carry).
unsigned DibColorCount(const BITMAPINFOHEADER& header);

// A logical palette.
class TPalette {
public:
    explicit TPalette(std::vector<PALETTEENTRY> entries, bool halftone = false)
        : FEntries(std::move(entries)), FHalftone(halftone) {}
    const std::vector<PALETTEENTRY>& Entries() const { return FEntries; }
    bool IsHalftone() const { return FHalftone; }

private:
    std::vector<PALETTEENTRY> FEntries;
    bool FHalftone;
};

// Null for count 0 or above 256.
std::unique_ptr<TPalette> CreatePalette(const PALETTEENTRY* entries, unsigned count);
// The 256-entry halftone palette: the 20 static colours at 0..9 and 246..255, between them
// a 6×6×6 colour cube (levels 0, 51, ..., 255; entry 10 + 36r + 6g + b) at 10..225 and
// 20 grey levels MulDiv(k, 255, 21), k = 1..20, at 226..245.
std::unique_ptr<TPalette> CreateHalftonePalette();
// Copies up to `count` entries from `start`; returns how many were copied. With a null
// `out`, returns the palette's entry count.
unsigned GetPaletteEntries(const TPalette* palette, unsigned start, unsigned count,
                           PALETTEENTRY* out);

// The 20 colours reserved in an 8-bit system palette, as red, green, blue.
extern const PALETTEENTRY kStaticColors[20];

// Bits per pixel of the screen: always a true-colour screen here.
int ScreenBitsPerPixel();

// A raster: its own copy of the header and colour table, and the pixel bits.
class TDibSection {
    struct TKey {
        explicit TKey() = default;
    };

public:
    // Makes a section for a header with biSize of at least 40, 1, 4, 8 or 24 bits per
    // pixel, planes 1, BI_RGB, a positive width, a non-zero height and at most 0x7FFFFFFF
    // bytes of pixels, and a colour table of 2^bitCount entries copied from `info` (the
    // table follows the 40 header bytes; entries past DibColorCount are black). Null when
    // the header is unusable or the heap cannot hold the bits. Pixels start as zero. With
    // `useAnonymousMapping`, the bits live in an anonymous mapping (a refused mapping throws
    // EOSError with SErrCreateMapping), else on the heap. The copied header has biSize 40
    // and biSizeImage set to the image size.
    static std::unique_ptr<TDibSection> Create(const BITMAPINFO* info, bool useAnonymousMapping);
    explicit TDibSection(TKey) {}
    ~TDibSection();
    TDibSection(const TDibSection&) = delete;
    TDibSection& operator=(const TDibSection&) = delete;

    const BITMAPINFOHEADER& Header() const { return FHeader; }
    RGBQUAD* Colors() { return FColors.data(); }
    const RGBQUAD* Colors() const { return FColors.data(); }
    unsigned ColorCount() const { return static_cast<unsigned>(FColors.size()); }
    std::uint8_t* Bits() { return FBits; }
    const std::uint8_t* Bits() const { return FBits; }
    int Width() const { return FHeader.biWidth; }
    int Height() const { return FHeader.biHeight < 0 ? -FHeader.biHeight : FHeader.biHeight; }
    int BitCount() const { return FHeader.biBitCount; }
    bool TopDown() const { return FHeader.biHeight < 0; }
    std::size_t BytesPerLine() const { return FBytesPerLine; }
    std::size_t ImageSize() const { return FImageSize; }
    bool UsesMapping() const { return FMapped; }
    // Row y counted from the top of the picture.
    std::uint8_t* Row(int y) { return FBits + RowOffset(y); }
    const std::uint8_t* Row(int y) const { return FBits + RowOffset(y); }

private:
    std::size_t RowOffset(int y) const {
        const std::size_t r =
            TopDown() ? static_cast<std::size_t>(y) : static_cast<std::size_t>(Height() - 1 - y);
        return r * FBytesPerLine;
    }

    BITMAPINFOHEADER FHeader{};
    std::vector<RGBQUAD> FColors;
    std::uint8_t* FBits = nullptr;
    std::unique_ptr<std::uint8_t[]> FHeapBits;  // owns FBits when they are not mapped
    std::size_t FBytesPerLine = 0;
    std::size_t FImageSize = 0;
    bool FMapped = false;
};

struct POINT {
    int x, y;
};

struct TRect {
    int Left, Top, Right, Bottom;
};

// The memory device context: the target of the drawing functions. It neither owns the
// bitmap nor the palette selected into it.
class TDeviceContext {
public:
    TDeviceContext() = default;
    // Selects a bitmap (or none) into the context and returns the one it held before.
    TDibSection* SelectBitmap(TDibSection* bitmap);
    TDibSection* Bitmap() const { return FBitmap; }
    // Selects a palette and returns the previous one. Drawing between rasters maps colours
    // through the rasters' own colour tables, so the palette only matters to callers that
    // ask for it back.
    const TPalette* SelectPalette(const TPalette* palette, bool forceBackground);
    const TPalette* Palette() const { return FPalette; }
    // Returns the number of entries mapped into the (true-colour) system palette: 0.
    unsigned RealizePalette();
    // BITSPIXEL gives the screen's 32, PLANES 1; other indices 0.
    int GetDeviceCaps(int index) const;
    // Returns the previous mode; modes other than COLORONCOLOR and HALFTONE give 0 and
    // change nothing.
    int SetStretchBltMode(int mode);
    int GetStretchBltMode() const { return FStretchMode; }
    POINT GetBrushOrg() const { return FBrushOrg; }
    POINT SetBrushOrg(POINT origin);
    // Narrows the region drawing may change to its part inside `rect` (at first the whole
    // bitmap); SelectClipNone lifts it again. Two contexts on one bitmap with disjoint clips
    // may draw at the same time.
    void IntersectClipRect(const TRect& rect);
    void SelectClipNone() { FClipped = false; }
    bool Clipped() const { return FClipped; }
    const TRect& ClipRect() const { return FClip; }

private:
    bool FClipped = false;
    TRect FClip{0, 0, 0, 0};
    TDibSection* FBitmap = nullptr;
    const TPalette* FPalette = nullptr;
    int FStretchMode = COLORONCOLOR;
    POINT FBrushOrg{0, 0};
};

// Source rectangles are given with their origin at the top-left pixel of the source
// picture, whichever way its rows are stored. Sources have 1, 4, 8, 24 or 32 (blue, green,
// red, unused) bits per pixel, BI_RGB, with the colour table directly after the 40 header
// bytes; `bits` holds |biHeight| rows of DibBytesPerLine bytes in the header's row order,
// and nothing outside that is read. Destinations are clipped to the selected bitmap and the
// context's clip; a context without a bitmap draws nothing, and so do zero or negative
// sizes. Source pixels are taken as colours through the source's colour table and written
// to the target as its own pixel format: a palette target gets the entry of its colour
// table nearest to each colour (least squared RGB distance, the first of equally near
// ones); a target of the source's bit count whose colour table equals the source's takes
// the indices unchanged. Each returns the number of destination rows drawn, 0 when nothing
// was drawn or the arguments are unusable (an unusable header, null bits, colorUse other
// than DIB_RGB_COLORS, a raster operation other than SRCCOPY).

// Draws without scaling the part (xSrc, ySrc, width, height) of the source with its
// top-left at (xDest, yDest). `bits` holds only the band of `cLines` rows that starts
// `startScan` rows above the bottom row of the picture (for the whole picture: 0 and
// |biHeight|); rows outside the band are not drawn.
int SetDIBitsToDevice(TDeviceContext& dc, int xDest, int yDest, unsigned width, unsigned height,
                      int xSrc, int ySrc, unsigned startScan, unsigned cLines, const void* bits,
                      const BITMAPINFO* info, unsigned colorUse);

// Scales the source rectangle into the destination rectangle, in the context's stretch
// mode. COLORONCOLOR takes for each target pixel the source pixel under its centre;
// HALFTONE averages, in colour, all source pixels the target pixel covers (weighted
// exactly by the area they share, the mean rounded half up) before mapping onto the
// target's format. Parts of the source rectangle outside the picture contribute nothing:
// a target pixel whose centre (COLORONCOLOR) or whole area (HALFTONE) falls outside is
// left as it was.
int StretchDIBits(TDeviceContext& dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc,
                  int ySrc, int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info,
                  unsigned colorUse, std::uint32_t rop);

// Copies a rectangle from the bitmap selected in `src` to the one selected in `dst` (both
// may be the same bitmap). False without both bitmaps or for a raster operation other than
// SRCCOPY; true otherwise, even when clipping leaves nothing to copy.
bool BitBlt(TDeviceContext& dst, int xDest, int yDest, int width, int height,
            const TDeviceContext& src, int xSrc, int ySrc, std::uint32_t rop);

// Replaces colour-table entries of the bitmap selected in `dc` (its pixels keep their
// indices, so they change colour). Returns the number of entries set: those of
// [start, start + count) that the table has; 0 for a 24-bit bitmap or none.
unsigned SetDIBColorTable(TDeviceContext& dc, unsigned start, unsigned count,
                          const RGBQUAD* colors);

}  // namespace pix
