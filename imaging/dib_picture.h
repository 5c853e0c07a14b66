// SPDX-License-Identifier: MIT
// TDibPicture: the in-memory picture, a device-independent bitmap with its palette kind,
// header fields and optional 16-bit samples, loaded and saved through format hooks.
#pragma once

#include "imaging/field_list.h"
#include "imaging/img_data16.h"
#include "imaging/stream.h"
#include "platform/dib.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stop_token>
#include <string>

namespace pix {

// Classification of a colour table; selects bit count, record size and default table.
enum TPaletteKind : std::uint8_t {
    pkTrueColor = 0,
    pkMono = 1,
    pk16Colors = 2,
    pk256Colors = 3,
    pkGray256 = 4,
    pkGray236 = 5,
};

// Largest pixel buffer a picture will allocate: the bitmap header stores it in 32 bits.
inline constexpr std::uint64_t kMaxImageSize = 0x7FFFFFFF;

// Most memory one picture may take: its raster, its 16-bit samples and any full-size
// intermediate a decoder keeps beside them. A file can declare any size in a few bytes, so
// every decoder checks its need against this before it allocates.
inline constexpr std::uint64_t kMaxPictureMemory = std::uint64_t{1} << 30;

// The limit in force: kMaxPictureMemory unless lowered, which tests do to reach the boundary
// with small files. SetPictureMemoryLimit(0) restores the default.
std::uint64_t PictureMemoryLimit();
void SetPictureMemoryLimit(std::uint64_t bytes);
// Throws EPixError(SPictureTooLarge) when `bytes` exceeds PictureMemoryLimit(). Decoders
// call it with the whole need of the load in hand before they allocate; the calling
// thread's memory account, when one is set, is then asked for those bytes as well.
void CheckPictureMemory(std::uint64_t bytes);

// Memory that the loads of several threads share. An account stands for one load: Take is
// called with each need that load announces (the whole need, so the largest one counts)
// and throws when the bytes cannot be had now, which ends the load.
class TPictureMemoryAccount {
public:
    virtual ~TPictureMemoryAccount() = default;
    virtual void Take(std::uint64_t bytes) = 0;
};

// Makes `account` the calling thread's account for the scope's life.
class TPictureMemoryScope {
public:
    explicit TPictureMemoryScope(TPictureMemoryAccount* account);
    ~TPictureMemoryScope();
    TPictureMemoryScope(const TPictureMemoryScope&) = delete;
    TPictureMemoryScope& operator=(const TPictureMemoryScope&) = delete;

private:
    TPictureMemoryAccount* FPrevious;
};

// The picture info record: a 40-byte header directly followed by its colour table, in one
// block laid out as BITMAPINFO.
class TDibInfo {
public:
    // A zeroed record of `size` bytes (at least 40); the table holds (size - 40) / 4 entries.
    explicit TDibInfo(std::size_t size);
    BITMAPINFO* Get() { return reinterpret_cast<BITMAPINFO*>(FData.data()); }
    const BITMAPINFO* Get() const { return reinterpret_cast<const BITMAPINFO*>(FData.data()); }
    BITMAPINFOHEADER& Header() { return Get()->bmiHeader; }
    const BITMAPINFOHEADER& Header() const { return Get()->bmiHeader; }
    RGBQUAD* Colors() { return Get()->bmiColors; }
    const RGBQUAD* Colors() const { return Get()->bmiColors; }
    std::size_t Size() const { return FSize; }
    unsigned TableEntries() const { return static_cast<unsigned>((FSize - 40) / 4); }

private:
    std::vector<std::uint32_t> FData;  // 32-bit units keep the header aligned
    std::size_t FSize;
};

// Support functions over a header (and its table).
// 48 for 1 bit, 104 for 4, 1064 for 8, 40 otherwise.
std::size_t InfoSize(const BITMAPINFOHEADER& header);
std::uint64_t BytesPerLine(const BITMAPINFOHEADER& header);
std::uint64_t ImageSize(const BITMAPINFOHEADER& header);
TPaletteKind PaletteKindOfInfo(const BITMAPINFO* info);
TPaletteKind PaletteKindOfPalette(const TPalette* palette);
// A palette of the header's colours, or the halftone palette for 24 bits (halftone := true),
// or none.
std::unique_ptr<TPalette> CreatePaletteOfInfo(const BITMAPINFO* info, bool& halftone);
std::unique_ptr<TPalette> CreatePaletteOfInfo(const BITMAPINFO* info);
// Bits per pixel and record size of a palette kind.
int BitCountOfKind(TPaletteKind kind);
std::size_t InfoSizeOfKind(TPaletteKind kind);

// Colour-table fillers; each fills its table in place (16 or 256 entries).
void Fill16ColorTable(RGBQUAD* table);
void FillSystemTable(RGBQUAD* table);
void FillGrayTable(RGBQUAD* table);
void FillInvGrayTable(RGBQUAD* table);
void FillSystemGrayTable(RGBQUAD* table);
void FillSystemInvGrayTable(RGBQUAD* table);

class TDibPicture {
public:
    TDibPicture();
    TDibPicture(int width, int height, TPaletteKind kind = pkTrueColor);
    virtual ~TDibPicture();
    TDibPicture(const TDibPicture&) = delete;
    TDibPicture& operator=(const TDibPicture&) = delete;

    // Content.
    void New(int width, int height, TPaletteKind kind);
    void Clear();
    // Copies a packed DIB (header, colour table, bits in one block). The span bounds the
    // block: a header or bits past its end are refused.
    void AssignDIB(std::span<const std::uint8_t> packedDib);
    int Width() const;
    int Height() const;
    std::uint64_t BytesPerLine() const;
    std::uint64_t ImageSize() const;
    std::size_t InfoSize() const;
    int BitCount() const;
    TPaletteKind DetectPaletteKind() const;
    std::string Description() const;
    void SetDescription(const std::string& text);
    void CreateImgData16();
    void Map16To8();

    // A box that a load may decode into instead of the full size, for previews such as
    // thumbnails: a format able to decode reduced (JPEG at 1/2, 1/4 and 1/8) takes the
    // smallest of those sizes that still covers the box in both directions; others ignore
    // it. 0 × 0, the default, loads at full size. Width, Height and ImageSize describe the
    // pixels held; the Full* queries the image as stored in the file.
    void SetDecodeBox(int width, int height);
    int FullWidth() const { return FFullWidth > 0 ? FFullWidth : Width(); }
    int FullHeight() const { return FFullHeight > 0 ? FFullHeight : Height(); }
    // The ImageSize the full-size picture has: padded row stride × height.
    std::uint64_t FullImageSize() const;
    bool DecodedReduced() const { return FFullWidth > 0; }

    // Palette and drawing.
    void SetPalette(std::unique_ptr<TPalette> palette);
    void CopyPalette(const TDibPicture* source);
    void Draw(TDeviceContext& canvas, int x, int y, bool background) const;
    void StretchDraw(TDeviceContext& canvas, const TRect& rect, bool background) const;

    // Cancellation of the loads: whoever starts a load owns the stop source and hands its
    // token over first; any thread may then request the stop. The decoder's row loop ends
    // at its next check, and the load throws EPixError(SLoadCancelled), leaving a picture
    // that nobody should show. A handler that sets OnProgress's abort stops the row loop
    // of that one load as well, but the load then ends normally with the rows read so far.
    void SetStopToken(std::stop_token token) { FStopToken = std::move(token); }
    const std::stop_token& StopToken() const { return FStopToken; }
    // True once the current load is to end early, for either reason.
    bool LoadCancelled() const { return FAbortLoad || FStopToken.stop_requested(); }

    // Hooks, in the slot order of the format classes.
    virtual void Progress(int firstRow, int rowCount, int percent);
    virtual std::int64_t ReadHeader(TStream& stream, std::unique_ptr<TDibInfo>& info) = 0;
    virtual void ReadBits(TStream& stream) = 0;
    virtual void ReadFileHeader(TStream& stream) = 0;
    virtual void WriteFileHeader(TStream& stream) = 0;
    // Loads a packed DIB held in a memory block (the clipboard's form of a bitmap).
    virtual void LoadFromHandle(std::span<const std::uint8_t> block);
    // Returns true when the stream holds a further image after this one; the stream is
    // then positioned at it.
    virtual bool LoadFromStream(TStream& stream);
    virtual void WriteData(TStream& stream, bool option) = 0;
    virtual void LoadFromFile(const std::string& fileName);
    // Writes the whole file, then puts it in place: a failed save leaves no partial file.
    virtual void SaveToFile(const std::string& fileName);

    // Accessors of the design's fields.
    const TDibInfo* Info() const { return FInfo.get(); }
    TDibInfo* Info() { return FInfo.get(); }
    std::uint8_t* Bits() { return FBits; }
    const std::uint8_t* Bits() const { return FBits; }
    const TPalette* Palette() const { return FPalette.get(); }
    TDeviceContext& Canvas() { return FCanvas; }
    TPaletteKind PaletteKind() const { return FPaletteKind; }
    void SetPaletteKind(TPaletteKind kind) { FPaletteKind = kind; }
    bool Modified() const { return FModified; }
    bool Loading() const { return FLoading; }
    int Quality() const { return FQuality; }
    void SetQuality(int quality) { FQuality = quality; }
    const std::string& FileName() const { return FFileName; }
    TImgData16* ImgData16() { return FImgData16.get(); }
    const TImgData16* ImgData16() const { return FImgData16.get(); }
    TFieldList& Fields() { return FFields; }
    const TFieldList& Fields() const { return FFields; }
    const TDibSection* Section() const { return FBitmap.get(); }

    // Events; each is called only when assigned.
    std::function<void(TDibPicture&)> OnLoaded;
    std::function<void(TDibPicture&, const BITMAPINFO*)> OnHeader;
    std::function<void(TDibPicture&)> OnChange;
    std::function<void(TDibPicture&, int firstRow, int rowCount, int percent, bool& abort)>
        OnProgress;
    std::function<void(TDibPicture&, std::uint16_t& min, std::uint16_t& max, bool& handled)>
        OnRange;

protected:
    // Allocates FInfo for FPaletteKind: checks the size (EPixError SInvalidImageSize for a
    // width or height of 0, SImageTooLarge past kMaxImageSize), fills the default table when
    // initTable is set.
    void AllocInfo(int width, int height, bool initTable);
    // Makes the section from FInfo (anonymous mapping above 65536 bytes of pixels).
    void CreateSection();
    void SelectBitmap();
    void SelectPalette();
    void Changed();
    // Takes a raster a decoder made on its own in place of the section, when both have the
    // same size, bit count and colour table: the same result as copying its rows, without
    // touching the image's bytes twice. `decoded` is then empty; false leaves both as they
    // were.
    bool AdoptSection(std::unique_ptr<TDibSection>& decoded);

    std::unique_ptr<TDibInfo> FInfo;
    TDeviceContext FCanvas;
    std::unique_ptr<TPalette> FPalette;
    std::unique_ptr<TDibSection> FBitmap;
    TDibSection* FOldBitmap = nullptr;
    const TPalette* FOldPalette = nullptr;
    bool FModified = false;
    bool FLoading = false;
    TPaletteKind FPaletteKind = pkTrueColor;
    int FQuality = 75;
    std::string FFileName;
    std::uint8_t* FBits = nullptr;
    std::unique_ptr<TImgData16> FImgData16;
    TFieldList FFields;
    // The box of SetDecodeBox, and the stored size when a load decoded reduced (0 else).
    int FDecodeBoxWidth = 0;
    int FDecodeBoxHeight = 0;
    int FFullWidth = 0;
    int FFullHeight = 0;
    std::stop_token FStopToken;
    // Set by an abort from OnProgress; cleared when a load starts.
    bool FAbortLoad = false;
};

}  // namespace pix
