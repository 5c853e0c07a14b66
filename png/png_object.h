// SPDX-License-Identifier: MIT
// TPNGObject: decodes a PNG stream into a bottom-up device-independent bitmap and draws it
// onto a device context with the file's transparency.
#pragma once

#include "imaging/stream.h"
#include "platform/dib.h"
#include "platform/error.h"

#include <array>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

namespace pix {

// Base of every failure of the PNG decoder; also raised for a transparent palette index
// past the palette.
class EPngError : public EPixError {
public:
    using EPixError::EPixError;
};

#define PIX_PNG_ERROR(Name)         \
    class Name : public EPngError { \
    public:                         \
        using EPngError::EPngError; \
    }
PIX_PNG_ERROR(EPNGInvalidFileHeader);
PIX_PNG_ERROR(EPngUnexpectedEnd);
PIX_PNG_ERROR(EPNGIHDRNotFirst);
PIX_PNG_ERROR(EPNGUnknownCriticalChunk);
PIX_PNG_ERROR(EPngInvalidCRC);
PIX_PNG_ERROR(EPngInvalidIHDR);
PIX_PNG_ERROR(EPNGSizeExceeds);
PIX_PNG_ERROR(EPNGUnknownCompression);
PIX_PNG_ERROR(EPNGUnknownInterlace);
PIX_PNG_ERROR(EPNGInvalidPalette);
PIX_PNG_ERROR(EPNGMissingMultipleIDAT);
PIX_PNG_ERROR(EPNGZLIBError);
PIX_PNG_ERROR(EPNGNoImageData);
PIX_PNG_ERROR(EPNGOutMemory);
// A colour type or bit depth, or a pair of them, that no PNG may use.
PIX_PNG_ERROR(EPNGInvalidColorFormat);
#undef PIX_PNG_ERROR

// CRC-32 of the PNG standard (polynomial 0xEDB88320), continued from `crc` (0 to start).
std::uint32_t PngCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size);

class TPNGObject;

// One chunk of the file: its name and, for the chunks that are kept, its data.
class TChunk {
public:
    explicit TChunk(const std::string& name) : FName(name) {}
    virtual ~TChunk() = default;
    TChunk(const TChunk&) = delete;
    TChunk& operator=(const TChunk&) = delete;

    const std::string& Name() const { return FName; }
    const std::vector<std::uint8_t>& Data() const { return FData; }
    // Reads `length` bytes of data from the stream and interprets them. The CRC that
    // follows is checked by the caller.
    virtual void LoadFromStream(TPNGObject& owner, TStream& stream, std::uint32_t length);

protected:
    // Interprets FData once it has been read.
    virtual void Parse(TPNGObject&) {}

    std::string FName;
    std::vector<std::uint8_t> FData;
};

class TChunkIEND : public TChunk {
public:
    using TChunk::TChunk;
};

// The image header: width, height, bit depth, colour type, compression, filter, interlace.
class TChunkIHDR : public TChunk {
public:
    using TChunk::TChunk;
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::uint8_t BitDepth = 0;
    std::uint8_t ColorType = 0;
    std::uint8_t Compression = 0;
    std::uint8_t Filter = 0;
    std::uint8_t Interlace = 0;

protected:
    void Parse(TPNGObject& owner) override;
};

// Image data: the first one decodes the whole image, reading on through the IDAT chunks
// that follow it.
class TChunkIDAT : public TChunk {
public:
    using TChunk::TChunk;
    void LoadFromStream(TPNGObject& owner, TStream& stream, std::uint32_t length) override;
};

class TChunkPLTE : public TChunk {
public:
    using TChunk::TChunk;

protected:
    void Parse(TPNGObject& owner) override;
};

class TChunkgAMA : public TChunk {
public:
    using TChunk::TChunk;
    std::uint32_t Gamma = 0;  // gamma × 100000

protected:
    void Parse(TPNGObject& owner) override;
};

// Transparency: one transparent colour (grey and RGB images), or an alpha value per
// palette entry.
class TChunktRNS : public TChunk {
public:
    using TChunk::TChunk;
    std::array<std::uint8_t, 256> Alpha{};  // 255 for entries the chunk does not name
    bool BitTransparency = false;

protected:
    void Parse(TPNGObject& owner) override;
};

class TChunkpHYs : public TChunk {
public:
    using TChunk::TChunk;
    std::uint32_t PixelsPerUnitX = 0, PixelsPerUnitY = 0;
    std::uint8_t Unit = 0;

protected:
    void Parse(TPNGObject& owner) override;
};

class TChunktIME : public TChunk {
public:
    using TChunk::TChunk;
    std::uint16_t Year = 0;
    std::uint8_t Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;

protected:
    void Parse(TPNGObject& owner) override;
};

class TChunktEXt : public TChunk {
public:
    using TChunk::TChunk;
    std::string Keyword;
    std::string Text;

protected:
    void Parse(TPNGObject& owner) override;
};

// Compressed text; a text that does not inflate is kept empty.
class TChunkzTXt : public TChunktEXt {
public:
    using TChunktEXt::TChunktEXt;

protected:
    void Parse(TPNGObject& owner) override;
};

// How Draw treats transparency.
enum TPngTransparency : std::uint8_t { ptmNone, ptmBit, ptmPartial };

class TPNGObject {
public:
    TPNGObject();
    ~TPNGObject();
    TPNGObject(const TPNGObject&) = delete;
    TPNGObject& operator=(const TPNGObject&) = delete;

    // Decodes a whole PNG from the stream's current position. A stop requested through
    // the token ends the decode at its next row with EPixError(SLoadCancelled).
    void LoadFromStream(TStream& stream);
    void SetStopToken(std::stop_token token) { FStopToken = std::move(token); }
    void Clear();

    int Width() const;
    int Height() const;
    // The palette of grey and palette images (as many entries as the bitmap's colour table:
    // 2, 16 or 256); none for RGB images.
    const TPalette* Palette() const { return FPalette.get(); }
    // Draws the image stretched into `rect` of the bitmap selected in `dc`.
    void Draw(TDeviceContext& dc, const TRect& rect) const;

    TPngTransparency TransparencyMode() const;
    // The decoded bitmap (bottom-up) with its header and colour table, or null.
    const TDibSection* Bitmap() const { return FBitmap.get(); }
    // The decoded bitmap itself, for a caller that takes it over; the object then draws
    // nothing.
    std::unique_ptr<TDibSection>& DecodedBitmap() { return FBitmap; }
    const BITMAPINFO* BitmapInfo() const;
    // Alpha plane (width × height, top-down) of colour types 4 and 6; for RGB images with a
    // colour key, 0 where the key matched and 255 elsewhere; else empty.
    const std::vector<std::uint8_t>& AlphaPlane() const { return FAlpha; }
    // Low bytes of 16-bit samples (width × height × colour samples, top-down), else empty.
    const std::vector<std::uint8_t>& LowBytePlane() const { return FLowBytes; }
    const TChunkIHDR* Header() const { return FHeader; }
    const TChunktRNS* Transparency() const { return FTrns; }
    const std::vector<std::unique_ptr<TChunk>>& Chunks() const { return FChunks; }
    int InterlaceMethod() const { return FInterlace; }
    const std::array<std::uint8_t, 256>& GammaTable() const { return FGamma; }
    const std::array<std::uint8_t, 256>& InverseGammaTable() const { return FInverseGamma; }

private:
    friend class TChunkIHDR;
    friend class TChunkIDAT;
    friend class TChunkPLTE;
    friend class TChunkgAMA;
    friend class TChunktRNS;

    void PrepareBitmap();
    void SetTableEntry(unsigned index, std::uint8_t r, std::uint8_t g, std::uint8_t b);
    void BuildGreyRamp();
    void DecodeImage(TStream& stream, std::uint32_t firstLength);
    std::uint32_t TransparentColor() const;
    void DrawTransparent(TDeviceContext& dc, const TRect& rect, bool partial) const;

    std::vector<std::unique_ptr<TChunk>> FChunks;
    int FInterlace = 0;
    std::array<std::uint8_t, 256> FGamma{};
    std::array<std::uint8_t, 256> FInverseGamma{};
    TChunkIHDR* FHeader = nullptr;    // owned by FChunks
    TChunktRNS* FTrns = nullptr;      // owned by FChunks
    std::vector<std::uint8_t> FInfo;  // 40-byte header and 256 colour entries
    std::unique_ptr<TDibSection> FBitmap;
    std::unique_ptr<TPalette> FPalette;
    unsigned FPaletteSize = 0;  // entries the PLTE chunk gave
    std::vector<std::uint8_t> FAlpha;
    std::vector<std::uint8_t> FLowBytes;
    bool FImageDecoded = false;
    // Bytes of the file after the current chunk's name.
    std::uint64_t FBytesLeft = 0;
    std::stop_token FStopToken;
};

}  // namespace pix
