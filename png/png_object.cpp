// SPDX-License-Identifier: MIT
// The PNG decoder. Chunks are read in file order; the first IDAT chunk inflates the whole
// image, pulling further IDAT chunks as zlib asks for input, and writes each unfiltered row
// straight into the bitmap, so that besides the bitmap only the current and the previous
// row of decompressed data are held.
#include "png/png_object.h"

#include "imaging/dib_picture.h"
#include "platform/byte_order.h"
#include "platform/mul_div.h"
#include "platform/res_strings.h"

#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

namespace pix {

namespace {

constexpr std::uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
// Input blocks handed to zlib never exceed this, and never reach past the current IDAT.
constexpr std::uint32_t kInputBlock = 65535;
constexpr std::uint32_t kMaxDimension = 65535;
// deflate's largest expansion (258 bytes from 2 bits), and slack for a stream's own header,
// its last rows and a file cut short.
constexpr std::uint64_t kMaxDeflateRatio = 1032;
constexpr std::uint64_t kDeflateMargin = 1 << 16;
// Inflated text of a zTXt chunk is cut here: nothing shows it, and a small chunk must not
// be able to claim gigabytes.
constexpr std::size_t kMaxTextSize = 1 << 20;

// Reads exactly `count` bytes or raises the decoder's unexpected-end error.
void ReadExact(TStream& stream, void* buffer, std::int64_t count) {
    if (count > 0 && stream.Read(buffer, count) != count)
        throw EPngUnexpectedEnd(SPngUnexpectedEnd);
}

std::uint32_t ReadU32(TStream& stream) {
    std::uint8_t b[4];
    ReadExact(stream, b, 4);
    return LoadBE32(b);
}

// Chunk data may not claim more bytes than the stream still holds; checked before any
// buffer of that size is made.
void CheckAvailable(TStream& stream, std::uint64_t count) {
    const std::int64_t left = stream.Size() - stream.Position();
    if (left < 0 || count > static_cast<std::uint64_t>(left))
        throw EPngUnexpectedEnd(SPngUnexpectedEnd);
}

void CheckCrc(TStream& stream, std::uint32_t crc) {
    if (ReadU32(stream) != crc) throw EPngInvalidCRC(SPngInvalidCRC);
}

std::uint32_t NameCrc(const char* name) {
    return PngCrc32(0, reinterpret_cast<const std::uint8_t*>(name), 4);
}

// Bits per pixel of the bitmap for a colour type and bit depth; 0 for pairs no PNG may use.
int BitmapBits(unsigned colorType, unsigned depth) {
    switch (colorType) {
        case 0:
            return depth == 1                  ? 1
                   : depth == 2 || depth == 4  ? 4
                   : depth == 8 || depth == 16 ? 8
                                               : 0;
        case 2:
        case 6:
            return depth == 8 || depth == 16 ? 24 : 0;
        case 3:
            return depth == 1 ? 1 : depth == 2 || depth == 4 ? 4 : depth == 8 ? 8 : 0;
        case 4:
            return depth == 8 || depth == 16 ? 8 : 0;
        default:
            return 0;
    }
}

unsigned Channels(unsigned colorType) {
    switch (colorType) {
        case 2:
            return 3;
        case 4:
            return 2;
        case 6:
            return 4;
        default:
            return 1;
    }
}

// The error of a failed inflate: the program's text, then zlib's own description.
EPNGZLIBError ZlibError(int code, const z_stream& zs) {
    return EPNGZLIBError(LoadResString(SPngZLIBError) + LoadResString(SPngZLIBDescription) +
                             (zs.msg ? zs.msg : zError(code)),
                         SPngZLIBError.Id);
}

// Inflates `in` into at most kMaxTextSize bytes; false when the data is not a complete
// zlib stream.
bool InflateText(std::span<const std::uint8_t> in, std::string& out) {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return false;
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    std::uint8_t buffer[4096];
    int ret = Z_OK;
    while (ret == Z_OK && out.size() < kMaxTextSize) {
        zs.next_out = buffer;
        zs.avail_out = sizeof buffer;
        ret = inflate(&zs, Z_NO_FLUSH);
        out.append(reinterpret_cast<const char*>(buffer), sizeof buffer - zs.avail_out);
        if (ret == Z_BUF_ERROR) break;
    }
    inflateEnd(&zs);
    if (ret != Z_STREAM_END && out.size() < kMaxTextSize) {
        out.clear();
        return false;
    }
    if (out.size() > kMaxTextSize) out.resize(kMaxTextSize);
    return true;
}

// The Paeth predictor, in the form with the distances precomputed: |p - a| = |b - c|,
// |p - b| = |a - c| and |p - c| = |a + b - 2c|, which compiles without branches.
inline int Paeth(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
}

// The Paeth filter undone pixel by pixel, with the left pixel (a) and the upper-left one (c)
// held in registers: the loop's chain runs through them, and reading them back from the
// row just written would wait for each store.
template <std::size_t Bpp>
void UnpaethScalar(std::uint8_t* row, const std::uint8_t* prior, std::size_t n) {
    int a[Bpp] = {}, c[Bpp] = {};
    for (std::size_t i = 0; i + Bpp <= n; i += Bpp) {
        for (std::size_t k = 0; k < Bpp; ++k) {
            const int b = prior[i + k];
            const int x = (row[i + k] + Paeth(a[k], b, c[k])) & 0xFF;
            row[i + k] = static_cast<std::uint8_t>(x);
            a[k] = x;
            c[k] = b;
        }
    }
}

#if defined(__SSE2__)
// One pixel of 3 or 4 bytes widened to 16-bit lanes.
// The bytes are assembled in a register: a 3-byte copy through memory would be written in
// two parts and read back whole, which stalls on every pixel.
template <std::size_t Bpp>
__m128i LoadPixel(const std::uint8_t* p) {
    std::uint32_t v = p[0] | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16;
    if constexpr (Bpp == 4) v |= std::uint32_t{p[3]} << 24;
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(v)), _mm_setzero_si128());
}

template <std::size_t Bpp>
void StorePixel(std::uint8_t* p, __m128i v) {
    const auto bytes = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
    p[0] = static_cast<std::uint8_t>(bytes);
    p[1] = static_cast<std::uint8_t>(bytes >> 8);
    p[2] = static_cast<std::uint8_t>(bytes >> 16);
    if constexpr (Bpp == 4) p[3] = static_cast<std::uint8_t>(bytes >> 24);
}

inline __m128i Abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

// The Paeth filter for 3- and 4-byte pixels, the samples of one pixel side by side: the
// same choice as Paeth(), made for all samples at once and ordered to keep the chain from
// one pixel to the next short: b or c is picked without a, then a wins when its distance
// is at most the smaller of the other two. A row's first pixel takes a = c = 0, for which
// the predictor is b, as the filter defines it.
template <std::size_t Bpp>
void UnpaethSse2(std::uint8_t* row, const std::uint8_t* prior, std::size_t n) {
    const __m128i low = _mm_set1_epi16(0xFF);
    __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
    for (std::size_t i = 0; i + Bpp <= n; i += Bpp) {
        const __m128i b = LoadPixel<Bpp>(prior + i);
        const __m128i bc = _mm_sub_epi16(b, c);
        const __m128i pa = Abs16(bc);
        const __m128i ac = _mm_sub_epi16(a, c);
        const __m128i pb = Abs16(ac), pc = Abs16(_mm_add_epi16(bc, ac));
        const __m128i takeC = _mm_cmpgt_epi16(pb, pc);
        const __m128i bOrC = _mm_or_si128(_mm_andnot_si128(takeC, b), _mm_and_si128(takeC, c));
        const __m128i notA = _mm_cmpgt_epi16(pa, _mm_min_epi16(pb, pc));
        const __m128i predicted =
            _mm_or_si128(_mm_andnot_si128(notA, a), _mm_and_si128(notA, bOrC));
        a = _mm_and_si128(_mm_add_epi16(LoadPixel<Bpp>(row + i), predicted), low);
        StorePixel<Bpp>(row + i, a);
        c = b;
    }
}
#endif

template <std::size_t Bpp>
void Unpaeth(std::uint8_t* row, const std::uint8_t* prior, std::size_t n) {
#if defined(__SSE2__)
    if constexpr (Bpp == 3 || Bpp == 4) return UnpaethSse2<Bpp>(row, prior, n);
#endif
    UnpaethScalar<Bpp>(row, prior, n);
}

// Undoes one filter with a pixel size known at compile time, so that the loops over the
// bytes of a pixel unroll.
template <std::size_t Bpp>
void UnfilterFixed(std::uint8_t type, std::uint8_t* row, const std::uint8_t* prior, std::size_t n) {
    switch (type) {
        case 1:
            for (std::size_t i = Bpp; i < n; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + row[i - Bpp]);
            break;
        case 2:
            for (std::size_t i = 0; i < n; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + prior[i]);
            break;
        case 3:
            for (std::size_t i = 0; i < Bpp && i < n; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + (prior[i] >> 1));
            for (std::size_t i = Bpp; i < n; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + ((row[i - Bpp] + prior[i]) >> 1));
            break;
        case 4:
            Unpaeth<Bpp>(row, prior, n);
            break;
        default:
            break;
    }
}

// Undoes the filter of one row in place; `prior` is the previous unfiltered row of the same
// pass (zeros for its first row). Unknown filter types leave the row as it is.
void Unfilter(std::uint8_t type, std::uint8_t* row, const std::uint8_t* prior, std::size_t n,
              std::size_t bpp) {
    switch (bpp) {
        case 1:
            return UnfilterFixed<1>(type, row, prior, n);
        case 2:
            return UnfilterFixed<2>(type, row, prior, n);
        case 3:
            return UnfilterFixed<3>(type, row, prior, n);
        case 4:
            return UnfilterFixed<4>(type, row, prior, n);
        case 6:
            return UnfilterFixed<6>(type, row, prior, n);
        default:
            return UnfilterFixed<8>(type, row, prior, n);
    }
}

void PutIndex(std::uint8_t* row, std::uint32_t x, int bits, unsigned value) {
    if (bits == 8) {
        row[x] = static_cast<std::uint8_t>(value);
    } else if (bits == 4) {
        std::uint8_t& b = row[x >> 1];
        b = (x & 1) ? static_cast<std::uint8_t>((b & 0xF0) | (value & 0x0F))
                    : static_cast<std::uint8_t>((b & 0x0F) | ((value & 0x0F) << 4));
    } else {
        std::uint8_t& b = row[x >> 3];
        const auto mask = static_cast<std::uint8_t>(0x80u >> (x & 7));
        b = (value & 1) ? static_cast<std::uint8_t>(b | mask)
                        : static_cast<std::uint8_t>(b & ~mask);
    }
}

unsigned GetIndex(const std::uint8_t* row, std::int64_t x, int bits) {
    if (bits == 8) return row[x];
    if (bits == 4) return (x & 1) ? row[x >> 1] & 0x0Fu : static_cast<unsigned>(row[x >> 1] >> 4);
    return (row[x >> 3] >> (7 - (x & 7))) & 1u;
}

// Delivers the compressed bytes of consecutive IDAT chunks to zlib, in blocks of at most
// kInputBlock bytes, checking each chunk's CRC over its whole data.
class TIdatInput {
public:
    TIdatInput(TStream& stream, std::uint32_t length)
        : FStream(stream), FLeft(length), FCrc(NameCrc("IDAT")), FBuffer(kInputBlock) {}

    // Refills zs's input, moving on to the next chunk when this one is used up; that chunk
    // must be an IDAT (EPNGMissingMultipleIDAT).
    void Fill(z_stream& zs) {
        while (FLeft == 0) {
            CheckCrc(FStream, FCrc);
            const std::uint32_t length = ReadU32(FStream);
            char name[4];
            ReadExact(FStream, name, 4);
            if (std::memcmp(name, "IDAT", 4) != 0)
                throw EPNGMissingMultipleIDAT(SPngMissingMultipleIDAT);
            FLeft = length;
            FCrc = NameCrc("IDAT");
        }
        const std::uint32_t n = std::min(FLeft, kInputBlock);
        ReadExact(FStream, FBuffer.data(), n);
        FCrc = PngCrc32(FCrc, FBuffer.data(), n);
        FLeft -= n;
        zs.next_in = FBuffer.data();
        zs.avail_in = n;
    }

    // Reads what is left of the current chunk (data the image did not need) and checks its
    // CRC.
    void Finish() {
        while (FLeft > 0) {
            const std::uint32_t n = std::min(FLeft, kInputBlock);
            ReadExact(FStream, FBuffer.data(), n);
            FCrc = PngCrc32(FCrc, FBuffer.data(), n);
            FLeft -= n;
        }
        CheckCrc(FStream, FCrc);
    }

private:
    TStream& FStream;
    std::uint32_t FLeft;
    std::uint32_t FCrc;
    std::vector<std::uint8_t> FBuffer;
};

// zlib's inflate state, ended however decoding ends.
class TInflater {
public:
    TInflater() {
        if (inflateInit(&Zs) != Z_OK) throw ZlibError(Z_MEM_ERROR, Zs);
    }
    ~TInflater() { inflateEnd(&Zs); }
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;
    z_stream Zs{};
};

struct TPass {
    std::uint32_t X0, Y0, DX, DY;
};
constexpr TPass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                             {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

}  // namespace

std::uint32_t PngCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    // zlib's CRC-32 is this same CRC, computed several bytes at a time; the IDAT data of a
    // large picture passes through here in full.
    uLong c = crc;
    while (size > 0) {
        const auto n = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        c = crc32(c, data, n);
        data += n;
        size -= n;
    }
    return static_cast<std::uint32_t>(c);
}

// ---------------------------------------------------------------------------------------
// Chunks

void TChunk::LoadFromStream(TPNGObject& owner, TStream& stream, std::uint32_t length) {
    CheckAvailable(stream, length);
    FData.resize(length);
    ReadExact(stream, FData.data(), length);
    std::uint32_t crc = PngCrc32(0, reinterpret_cast<const std::uint8_t*>(FName.data()), 4);
    crc = PngCrc32(crc, FData.data(), FData.size());
    CheckCrc(stream, crc);
    Parse(owner);
}

void TChunkIHDR::Parse(TPNGObject& owner) {
    if (FData.size() < 13) throw EPngInvalidIHDR(SPngInvalidIHDR);
    Width = LoadBE32(FData.data());
    Height = LoadBE32(FData.data() + 4);
    BitDepth = FData[8];
    ColorType = FData[9];
    Compression = FData[10];
    Filter = FData[11];
    Interlace = FData[12];
    // A second header would describe another image than the bitmap already made.
    if (owner.FHeader != nullptr) throw EPngInvalidIHDR(SPngInvalidIHDR);
    if (Width == 0 || Height == 0) throw EPngInvalidIHDR(SPngInvalidIHDR);
    if (Width > kMaxDimension || Height > kMaxDimension) throw EPNGSizeExceeds(SPngSizeExceeds);
    if (Compression != 0) throw EPNGUnknownCompression(SPngUnknownCompression);
    if (Interlace > 1) throw EPNGUnknownInterlace(SPngUnknownInterlace);
    if (BitmapBits(ColorType, BitDepth) == 0)
        throw EPNGInvalidColorFormat(SPngInvalidColorFormat, static_cast<unsigned>(ColorType),
                                     static_cast<unsigned>(BitDepth));
    owner.FHeader = this;
    owner.FInterlace = Interlace;
    owner.PrepareBitmap();
}

void TChunkPLTE::Parse(TPNGObject& owner) {
    if (FData.size() % 3 != 0 || FData.size() > 256 * 3)
        throw EPNGInvalidPalette(SPngInvalidPalette);
    if (!owner.FBitmap) return;
    const unsigned n = static_cast<unsigned>(FData.size() / 3);
    // Only as many entries as the bitmap's table holds can ever be shown.
    const unsigned shown = std::min(n, owner.FBitmap->ColorCount());
    const auto& g = owner.FGamma;
    for (unsigned i = 0; i < shown; ++i)
        owner.SetTableEntry(i, g[FData[3 * i]], g[FData[3 * i + 1]], g[FData[3 * i + 2]]);
    for (unsigned i = shown; i < owner.FBitmap->ColorCount(); ++i) owner.SetTableEntry(i, 0, 0, 0);
    owner.FPaletteSize = n;
    if (owner.FPalette) {
        std::vector<PALETTEENTRY> entries(owner.FBitmap->ColorCount());
        for (unsigned i = 0; i < entries.size(); ++i) {
            const RGBQUAD& q = owner.FBitmap->Colors()[i];
            entries[i] = {q.rgbRed, q.rgbGreen, q.rgbBlue, 0};
        }
        owner.FPalette = CreatePalette(entries.data(), static_cast<unsigned>(entries.size()));
    }
}

void TChunkgAMA::Parse(TPNGObject& owner) {
    if (FData.size() < 4) return;
    Gamma = LoadBE32(FData.data());
    if (Gamma == 0) return;
    const double exponent = 1.0 / (Gamma / 100000.0 * 2.2);
    for (int i = 0; i < 256; ++i) {
        const double v = std::round(255.0 * std::pow(i / 255.0, exponent));
        owner.FGamma[i] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
        owner.FInverseGamma[owner.FGamma[i]] = static_cast<std::uint8_t>(i);
    }
}

void TChunktRNS::Parse(TPNGObject& owner) {
    if (FData.size() > 256) throw EPNGInvalidPalette(SPngInvalidPalette);
    Alpha.fill(255);
    const TChunkIHDR* h = owner.FHeader;
    if (h == nullptr) return;
    switch (h->ColorType) {
        case 0:
            if (FData.size() < 2) return;
            BitTransparency = true;
            break;
        case 2:
            if (FData.size() < 6) return;
            BitTransparency = true;
            break;
        case 3: {
            std::copy(FData.begin(), FData.end(), Alpha.begin());
            int notOpaque = 0, clear = 0;
            for (std::uint8_t a : Alpha) {
                notOpaque += a != 255;
                clear += a == 0;
            }
            // One fully transparent entry is a transparent colour; anything else, even one
            // half-transparent entry, needs blending.
            BitTransparency = notOpaque == 1 && clear == 1;
            if (notOpaque == 0) return;
            break;
        }
        default:
            // Grey and RGB images with alpha carry no tRNS.
            return;
    }
    owner.FTrns = this;
}

void TChunkpHYs::Parse(TPNGObject&) {
    if (FData.size() < 9) return;
    PixelsPerUnitX = LoadBE32(FData.data());
    PixelsPerUnitY = LoadBE32(FData.data() + 4);
    Unit = FData[8];
}

void TChunktIME::Parse(TPNGObject&) {
    if (FData.size() < 7) return;
    Year = LoadBE16(FData.data());
    Month = FData[2];
    Day = FData[3];
    Hour = FData[4];
    Minute = FData[5];
    Second = FData[6];
}

void TChunktEXt::Parse(TPNGObject&) {
    const auto nul = std::find(FData.begin(), FData.end(), std::uint8_t{0});
    Keyword.assign(FData.begin(), nul);
    Text.assign(nul == FData.end() ? nul : nul + 1, FData.end());
}

void TChunkzTXt::Parse(TPNGObject&) {
    const auto nul = std::find(FData.begin(), FData.end(), std::uint8_t{0});
    Keyword.assign(FData.begin(), nul);
    Text.clear();
    // After the keyword's NUL: the compression method byte, then the zlib stream.
    const std::size_t start = static_cast<std::size_t>(nul - FData.begin()) + 2;
    if (start <= FData.size())
        InflateText(std::span<const std::uint8_t>(FData).subspan(start), Text);
}

void TChunkIDAT::LoadFromStream(TPNGObject& owner, TStream& stream, std::uint32_t length) {
    owner.DecodeImage(stream, length);
}

// ---------------------------------------------------------------------------------------
// TPNGObject

TPNGObject::TPNGObject() { Clear(); }
TPNGObject::~TPNGObject() = default;

void TPNGObject::Clear() {
    FChunks.clear();
    FHeader = nullptr;
    FTrns = nullptr;
    FInterlace = 0;
    for (int i = 0; i < 256; ++i) FGamma[i] = FInverseGamma[i] = static_cast<std::uint8_t>(i);
    FInfo.clear();
    FBitmap.reset();
    FPalette.reset();
    FPaletteSize = 0;
    FAlpha.clear();
    FLowBytes.clear();
    FImageDecoded = false;
}

int TPNGObject::Width() const { return FBitmap ? FBitmap->Width() : 0; }
int TPNGObject::Height() const { return FBitmap ? FBitmap->Height() : 0; }

const BITMAPINFO* TPNGObject::BitmapInfo() const {
    return FInfo.empty() ? nullptr : reinterpret_cast<const BITMAPINFO*>(FInfo.data());
}

void TPNGObject::LoadFromStream(TStream& stream) {
    Clear();
    std::uint8_t signature[8];
    if (stream.Read(signature, 8) != 8 || std::memcmp(signature, kSignature, 8) != 0)
        throw EPNGInvalidFileHeader(SPngInvalidFileHeader);
    bool first = true;
    for (;;) {
        const std::uint32_t length = ReadU32(stream);
        char nameBytes[4];
        ReadExact(stream, nameBytes, 4);
        const std::string name(nameBytes, 4);
        if (first && name != "IHDR") throw EPNGIHDRNotFirst(SPngIHDRNotFirst);
        first = false;
        if (name == "cHRM" || (name == "IDAT" && FImageDecoded)) {
            CheckAvailable(stream, std::uint64_t{length} + 4);
            stream.Seek(std::int64_t{length} + 4, soFromCurrent);
            continue;
        }
        // What the rest of the file can hold bounds the image data still to come.
        FBytesLeft = static_cast<std::uint64_t>(
            std::max<std::int64_t>(stream.Size() - stream.Position(), 0));
        std::unique_ptr<TChunk> chunk;
        if (name == "IEND")
            chunk = std::make_unique<TChunkIEND>(name);
        else if (name == "IHDR")
            chunk = std::make_unique<TChunkIHDR>(name);
        else if (name == "IDAT")
            chunk = std::make_unique<TChunkIDAT>(name);
        else if (name == "PLTE")
            chunk = std::make_unique<TChunkPLTE>(name);
        else if (name == "gAMA")
            chunk = std::make_unique<TChunkgAMA>(name);
        else if (name == "tRNS")
            chunk = std::make_unique<TChunktRNS>(name);
        else if (name == "pHYs")
            chunk = std::make_unique<TChunkpHYs>(name);
        else if (name == "tIME")
            chunk = std::make_unique<TChunktIME>(name);
        else if (name == "tEXt")
            chunk = std::make_unique<TChunktEXt>(name);
        else if (name == "zTXt")
            chunk = std::make_unique<TChunkzTXt>(name);
        else if (nameBytes[0] >= 'A' && nameBytes[0] <= 'Z')
            throw EPNGUnknownCriticalChunk(SPngUnknownCriticalChunk);
        else
            chunk = std::make_unique<TChunk>(name);
        TChunk* raw = chunk.get();
        FChunks.push_back(std::move(chunk));
        raw->LoadFromStream(*this, stream, length);
        if (name == "IEND") break;
    }
    if (!FImageDecoded) throw EPNGNoImageData(SPngNoImageData);
}

void TPNGObject::SetTableEntry(unsigned index, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    const RGBQUAD q{b, g, r, 0};
    auto* table = reinterpret_cast<RGBQUAD*>(FInfo.data() + sizeof(BITMAPINFOHEADER));
    table[index] = q;
    if (FBitmap && index < FBitmap->ColorCount()) FBitmap->Colors()[index] = q;
}

void TPNGObject::BuildGreyRamp() {
    const unsigned n = FBitmap->ColorCount();
    std::vector<PALETTEENTRY> entries(n);
    for (unsigned i = 0; i < n; ++i) {
        const std::uint8_t v = FGamma[static_cast<std::size_t>(
            MulDiv(static_cast<std::int32_t>(i), 255, static_cast<std::int32_t>(n - 1)))];
        SetTableEntry(i, v, v, v);
        entries[i] = {v, v, v, 0};
    }
    FPalette = CreatePalette(entries.data(), n);
}

void TPNGObject::PrepareBitmap() {
    const TChunkIHDR& h = *FHeader;
    const int bits = BitmapBits(h.ColorType, h.BitDepth);
    const std::uint64_t size = DibBytesPerLine(h.Width, bits) * h.Height;
    if (size > kMaxImageSize) throw EPNGSizeExceeds(SPngSizeExceeds);
    const std::uint64_t pixels = std::uint64_t{h.Width} * h.Height;
    const bool alpha = h.ColorType == 4 || h.ColorType == 6;
    const std::uint64_t lowSize =
        h.BitDepth == 16
            ? pixels * (h.ColorType >= 4 ? Channels(h.ColorType) - 1 : Channels(h.ColorType))
            : 0;
    if ((alpha ? pixels : 0) > kMaxImageSize || lowSize > kMaxImageSize)
        throw EPNGSizeExceeds(SPngSizeExceeds);
    // The picture that takes this bitmap over makes a raster of the same size beside it.
    CheckPictureMemory(2 * size + (alpha ? pixels : 0) + lowSize);
    // deflate expands at most 1032:1, so the bytes left in the file bound what the image
    // data can fill. A header declaring far more than that is refused before anything is
    // allocated; the margin leaves a merely truncated file to load what it holds.
    const std::uint64_t rowBytes =
        (std::uint64_t{h.Width} * Channels(h.ColorType) * h.BitDepth + 7) / 8;
    const std::uint64_t rawSize = (rowBytes + 1) * h.Height;
    if (FBytesLeft * kMaxDeflateRatio + kDeflateMargin < rawSize)
        throw EPNGMissingMultipleIDAT(SPngMissingMultipleIDAT);

    FInfo.assign(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0);
    BITMAPINFOHEADER hdr{};
    hdr.biSize = 40;
    hdr.biWidth = static_cast<std::int32_t>(h.Width);
    hdr.biHeight = static_cast<std::int32_t>(h.Height);
    hdr.biPlanes = 1;
    hdr.biBitCount = static_cast<std::uint16_t>(bits);
    hdr.biCompression = BI_RGB;
    hdr.biSizeImage = static_cast<std::uint32_t>(size);
    std::memcpy(FInfo.data(), &hdr, sizeof hdr);
    FBitmap = TDibSection::Create(BitmapInfo(), size > 65536);
    if (!FBitmap) throw EPNGOutMemory(SPngOutMemory);
    if (h.ColorType == 3) {
        // Until a PLTE chunk arrives the table is the start of the halftone palette.
        const auto halftone = CreateHalftonePalette();
        const unsigned n = FBitmap->ColorCount();
        for (unsigned i = 0; i < n; ++i) {
            const PALETTEENTRY& e = halftone->Entries()[i];
            SetTableEntry(i, e.peRed, e.peGreen, e.peBlue);
        }
        FPalette = CreatePalette(halftone->Entries().data(), n);
    } else if (bits <= 8) {
        BuildGreyRamp();
    }
    if (alpha) FAlpha.assign(static_cast<std::size_t>(pixels), 0);
    FLowBytes.assign(static_cast<std::size_t>(lowSize), 0);
}

void TPNGObject::DecodeImage(TStream& stream, std::uint32_t firstLength) {
    // The header is always there: it is the first chunk, and its failures stop the load.
    const TChunkIHDR& h = *FHeader;
    if (h.ColorType == 0 || h.ColorType == 4) BuildGreyRamp();

    const unsigned channels = Channels(h.ColorType);
    const unsigned depth = h.BitDepth;
    const std::size_t pixelBits = std::size_t{channels} * depth;
    const std::size_t filterBpp = std::max<std::size_t>(1, pixelBits / 8);
    const int bits = FBitmap->BitCount();
    const std::uint32_t w = h.Width;
    const std::size_t maxRow = (std::size_t{w} * pixelBits + 7) / 8;
    std::vector<std::uint8_t> rowA(maxRow + 1), rowB(maxRow + 1);
    const auto& g = FGamma;
    bool identityGamma = true;
    for (std::size_t i = 0; i < g.size(); ++i) identityGamma = identityGamma && g[i] == i;
    const unsigned lowChannels = h.ColorType == 4 ? 1 : h.ColorType == 6 ? 3 : channels;
    // An RGB colour key is matched against the samples before gamma (gamma can map several
    // colours onto one) and records its matches in the alpha plane; 16-bit samples match by
    // their high bytes, which are what the bitmap shows.
    const bool keyed = h.ColorType == 2 && FTrns != nullptr;
    std::uint8_t key[3] = {};
    if (keyed) {
        const std::size_t at = depth == 16 ? 0 : 1;
        for (int c = 0; c < 3; ++c) key[c] = FTrns->Data()[at + 2 * c];
        FAlpha.assign(std::size_t{w} * h.Height, 255);
    }

    // Writes `count` unfiltered pixels of `raw` to bitmap row y at x0, x0 + dx, ...
    const auto store = [&](const std::uint8_t* raw, std::uint32_t count, std::uint32_t y,
                           std::uint32_t x0, std::uint32_t dx) {
        std::uint8_t* out = FBitmap->Row(static_cast<int>(y));
        const std::size_t planeRow = std::size_t{y} * w;
        if (depth < 8 || ((h.ColorType == 0 || h.ColorType == 3) && depth == 8)) {
            if (dx == 1 && depth != 2) {
                std::memcpy(out, raw, (std::size_t{count} * depth + 7) / 8);
                return;
            }
            const unsigned mask = (1u << depth) - 1;
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::size_t bit = std::size_t{i} * depth;
                unsigned v = (raw[bit >> 3] >> (8 - depth - (bit & 7))) & mask;
                // Grey 2-bit samples sit at grey levels 0, 85, 170, 255 of the 16-entry ramp.
                if (depth == 2 && h.ColorType == 0) v *= 5;
                PutIndex(out, x0 + i * dx, bits, v);
            }
            return;
        }
        if (dx == 1 && depth == 8 && h.ColorType == 2 && !keyed) {
            // The common case, kept free of the per-pixel choices below; without a gamma
            // correction only the red and blue samples change places.
            if (identityGamma) {
                for (std::uint32_t i = 0; i < count; ++i, raw += 3, out += 3) {
                    out[0] = raw[2];
                    out[1] = raw[1];
                    out[2] = raw[0];
                }
                return;
            }
            for (std::uint32_t i = 0; i < count; ++i, raw += 3, out += 3) {
                out[0] = g[raw[2]];
                out[1] = g[raw[1]];
                out[2] = g[raw[0]];
            }
            return;
        }
        const bool wide = depth == 16;
        const unsigned step = wide ? 2 : 1;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* p = raw + std::size_t{i} * channels * step;
            const std::uint32_t x = x0 + i * dx;
            const std::size_t pix = planeRow + x;
            switch (h.ColorType) {
                case 0:
                    out[x] = p[0];
                    FLowBytes[pix] = p[1];
                    break;
                case 4:
                    out[x] = p[0];
                    FAlpha[pix] = p[step];
                    if (wide) FLowBytes[pix] = p[1];
                    break;
                default: {  // 2 and 6
                    std::uint8_t* o = out + std::size_t{x} * 3;
                    o[0] = g[p[2 * step]];
                    o[1] = g[p[step]];
                    o[2] = g[p[0]];
                    if (wide) {
                        std::uint8_t* low = FLowBytes.data() + pix * lowChannels;
                        low[0] = g[p[1]];
                        low[1] = g[p[3]];
                        low[2] = g[p[5]];
                    }
                    if (h.ColorType == 6) FAlpha[pix] = p[3 * step];
                    if (keyed && p[0] == key[0] && p[step] == key[1] && p[2 * step] == key[2])
                        FAlpha[pix] = 0;
                    break;
                }
            }
        }
    };

    TIdatInput input(stream, firstLength);
    TInflater inflater;
    z_stream& zs = inflater.Zs;
#if ZLIB_VERNUM >= 0x1290
    // Decoding stops after the last row, before zlib would compare its Adler-32 sum, so
    // computing the sum is wasted; the chunks' CRCs guard the data.
    inflateValidate(&zs, 0);
#endif
    bool streamEnded = false;
    // Inflates exactly n bytes into dst.
    const auto inflateRow = [&](std::uint8_t* dst, std::size_t n) {
        zs.next_out = dst;
        zs.avail_out = static_cast<uInt>(n);
        while (zs.avail_out > 0) {
            if (streamEnded) throw EPngUnexpectedEnd(SPngUnexpectedEnd);
            if (zs.avail_in == 0) input.Fill(zs);
            const int ret = inflate(&zs, Z_NO_FLUSH);
            if (ret == Z_STREAM_END) {
                streamEnded = true;
            } else if (ret != Z_OK && !(ret == Z_BUF_ERROR && zs.avail_in == 0)) {
                throw ZlibError(ret, zs);
            }
        }
    };

    const int passes = FInterlace == 1 ? 7 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const TPass p = FInterlace == 1 ? kAdam7[pass] : TPass{0, 0, 1, 1};
        if (p.X0 >= w || p.Y0 >= h.Height) continue;
        const std::uint32_t passWidth = (w - p.X0 + p.DX - 1) / p.DX;
        const std::size_t rowBytes = (std::size_t{passWidth} * pixelBits + 7) / 8;
        std::uint8_t* cur = rowA.data();
        std::uint8_t* prev = rowB.data();
        std::memset(prev, 0, rowBytes + 1);
        for (std::uint32_t y = p.Y0; y < h.Height; y += p.DY) {
            if (FStopToken.stop_requested()) throw EPixError(SLoadCancelled);
            inflateRow(cur, rowBytes + 1);
            Unfilter(cur[0], cur + 1, prev + 1, rowBytes, filterBpp);
            store(cur + 1, passWidth, y, p.X0, p.DX);
            std::swap(cur, prev);
        }
    }
    input.Finish();
    FImageDecoded = true;
}

// ---------------------------------------------------------------------------------------
// Drawing

TPngTransparency TPNGObject::TransparencyMode() const {
    if (!FHeader) return ptmNone;
    switch (FHeader->ColorType) {
        case 0:
        case 2:
            return FTrns ? ptmBit : ptmNone;
        case 3:
            return FTrns ? (FTrns->BitTransparency ? ptmBit : ptmPartial) : ptmNone;
        default:
            return ptmPartial;
    }
}

// For grey and palette images the bitmap index that is transparent, for RGB images the
// colour (0x00RRGGBB) as the bitmap holds it. 16-bit values are compared by their high
// bytes, which are what the bitmap holds.
std::uint32_t TPNGObject::TransparentColor() const {
    const auto& d = FTrns->Data();
    switch (FHeader->ColorType) {
        case 0: {
            const unsigned depth = FHeader->BitDepth;
            if (depth == 16) return d[0];
            const unsigned v = LoadBE16(d.data()) & ((1u << depth) - 1);
            return depth == 2 ? v * 5 : v;
        }
        case 2: {
            // Each value is a 16-bit field: an 8-bit sample sits in its low byte.
            const std::size_t at = FHeader->BitDepth == 16 ? 0 : 1;
            return (std::uint32_t{FGamma[d[at]]} << 16) | (std::uint32_t{FGamma[d[at + 2]]} << 8) |
                   FGamma[d[at + 4]];
        }
        default: {
            unsigned index = 0;
            while (index < 256 && FTrns->Alpha[index] != 0) ++index;
            if (index >= FPaletteSize) throw EPngError(SPngNoSuchPaletteEntry);
            return index;
        }
    }
}

void TPNGObject::Draw(TDeviceContext& dc, const TRect& rect) const {
    if (!FBitmap) return;
    const TPngTransparency mode = TransparencyMode();
    if (mode == ptmNone) {
        const int old = dc.SetStretchBltMode(COLORONCOLOR);
        StretchDIBits(dc, rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top, 0, 0,
                      Width(), Height(), FBitmap->Bits(), BitmapInfo(), DIB_RGB_COLORS, SRCCOPY);
        dc.SetStretchBltMode(old);
        return;
    }
    DrawTransparent(dc, rect, mode == ptmPartial);
}

void TPNGObject::DrawTransparent(TDeviceContext& dc, const TRect& rect, bool partial) const {
    TDibSection* target = dc.Bitmap();
    if (target == nullptr) return;
    const std::int64_t destW = std::int64_t{rect.Right} - rect.Left;
    const std::int64_t destH = std::int64_t{rect.Bottom} - rect.Top;
    if (destW <= 0 || destH <= 0) return;
    const std::int64_t x0 = std::max<std::int64_t>(rect.Left, 0);
    const std::int64_t x1 = std::min<std::int64_t>(rect.Right, target->Width());
    const std::int64_t y0 = std::max<std::int64_t>(rect.Top, 0);
    const std::int64_t y1 = std::min<std::int64_t>(rect.Bottom, target->Height());
    if (x0 >= x1 || y0 >= y1) return;

    const std::int64_t w = Width(), h = Height();
    const int srcBits = FBitmap->BitCount();
    const int dstBits = target->BitCount();
    const RGBQUAD* srcTable = FBitmap->Colors();
    const RGBQUAD* dstTable = target->Colors();
    const unsigned dstCount = target->ColorCount();
    // A target with the bitmap's own format and table takes indices unchanged.
    bool sameTable = srcBits <= 8 && srcBits == dstBits && dstCount == FBitmap->ColorCount();
    for (unsigned i = 0; sameTable && i < dstCount; ++i)
        sameTable = std::memcmp(&srcTable[i], &dstTable[i], 3) == 0;

    const auto packed = [](const RGBQUAD& q) {
        return (std::uint32_t{q.rgbRed} << 16) | (std::uint32_t{q.rgbGreen} << 8) | q.rgbBlue;
    };
    std::unordered_map<std::uint32_t, unsigned> nearestCache;
    const auto nearest = [&](std::uint32_t c) {
        const auto it = nearestCache.find(c);
        if (it != nearestCache.end()) return it->second;
        const int r = static_cast<int>(c >> 16), gr = static_cast<int>((c >> 8) & 0xFF),
                  b = static_cast<int>(c & 0xFF);
        unsigned best = 0;
        int bestD = 1 << 30;
        for (unsigned i = 0; i < dstCount; ++i) {
            const int dr = dstTable[i].rgbRed - r, dg = dstTable[i].rgbGreen - gr,
                      db = dstTable[i].rgbBlue - b;
            const int dist = dr * dr + dg * dg + db * db;
            if (dist < bestD) {
                bestD = dist;
                best = i;
            }
        }
        nearestCache.emplace(c, best);
        return best;
    };
    const auto write = [&](std::uint8_t* row, std::int64_t x, std::uint32_t colour) {
        if (dstBits == 24) {
            std::uint8_t* o = row + x * 3;
            o[0] = static_cast<std::uint8_t>(colour);
            o[1] = static_cast<std::uint8_t>(colour >> 8);
            o[2] = static_cast<std::uint8_t>(colour >> 16);
        } else {
            PutIndex(row, static_cast<std::uint32_t>(x), dstBits, nearest(colour));
        }
    };
    const auto read = [&](const std::uint8_t* row, std::int64_t x) -> std::uint32_t {
        if (dstBits == 24) {
            const std::uint8_t* o = row + x * 3;
            return (std::uint32_t{o[2]} << 16) | (std::uint32_t{o[1]} << 8) | o[0];
        }
        const unsigned i = GetIndex(row, x, dstBits);
        return i < dstCount ? packed(dstTable[i]) : 0;
    };

    const bool palette = FHeader->ColorType == 3;
    const std::uint32_t key = partial ? 0 : TransparentColor();
    const bool keyMask = !partial && FHeader->ColorType == 2 && !FAlpha.empty();
    // Source column under the centre of each target column.
    std::vector<std::int64_t> srcX(static_cast<std::size_t>(x1 - x0));
    for (std::int64_t x = x0; x < x1; ++x)
        srcX[static_cast<std::size_t>(x - x0)] = ((2 * (x - rect.Left) + 1) * w) / (2 * destW);
    for (std::int64_t y = y0; y < y1; ++y) {
        const std::int64_t sy = ((2 * (y - rect.Top) + 1) * h) / (2 * destH);
        const std::uint8_t* in = FBitmap->Row(static_cast<int>(sy));
        std::uint8_t* out = target->Row(static_cast<int>(y));
        for (std::int64_t x = x0; x < x1; ++x) {
            const std::int64_t sx = srcX[static_cast<std::size_t>(x - x0)];
            unsigned index = 0;
            std::uint32_t colour;
            if (srcBits == 24) {
                const std::uint8_t* p = in + sx * 3;
                colour = (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
            } else {
                index = GetIndex(in, sx, srcBits);
                colour = packed(srcTable[index]);
            }
            if (!partial) {
                if (keyMask ? FAlpha[static_cast<std::size_t>(sy * w + sx)] == 0
                            : (srcBits == 24 ? colour : index) == key)
                    continue;
                if (sameTable)
                    PutIndex(out, static_cast<std::uint32_t>(x), dstBits, index);
                else
                    write(out, x, colour);
                continue;
            }
            const unsigned a =
                palette ? FTrns->Alpha[index] : FAlpha[static_cast<std::size_t>(sy * w + sx)];
            if (a == 255 && sameTable) {
                PutIndex(out, static_cast<std::uint32_t>(x), dstBits, index);
                continue;
            }
            const std::uint32_t d = read(out, x);
            std::uint32_t result = 0;
            for (int shift = 0; shift <= 16; shift += 8) {
                const unsigned s = (colour >> shift) & 0xFF, t = (d >> shift) & 0xFF;
                result |= ((s * a + (255 - a) * t + 255) >> 8) << shift;
            }
            write(out, x, result);
        }
    }
}

}  // namespace pix
