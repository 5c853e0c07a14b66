// SPDX-License-Identifier: MIT
#include "imaging/dib_picture.h"

#include "imaging/mapped_memory.h"
#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/mul_div.h"
#include "platform/res_strings.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace pix {

namespace {

// Pixel buffers above this size live in an anonymous mapping rather than on the heap.
constexpr std::uint64_t kSectionMappingThreshold = 65536;
constexpr std::uint16_t kTagImageDescription = 270;

bool IsGrey(const RGBQUAD& c) { return c.rgbRed == c.rgbGreen && c.rgbGreen == c.rgbBlue; }

RGBQUAD Quad(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return RGBQUAD{blue, green, red, 0};
}

RGBQUAD StaticQuad(int index) {
    const PALETTEENTRY& e = kStaticColors[index];
    return Quad(e.peRed, e.peGreen, e.peBlue);
}

// Grey level k of the 236-level ramp: 0 for k = 0 up to 255 for k = 235.
std::uint8_t Grey236(int k) { return static_cast<std::uint8_t>(MulDiv(k, 255, 235)); }

void FillStaticEnds(RGBQUAD* table) {
    for (int i = 0; i < 10; ++i) {
        table[i] = StaticQuad(i);
        table[246 + i] = StaticQuad(10 + i);
    }
}

// Classification of a 256-entry table: grey in the middle, then which ends are coloured.
TPaletteKind KindOf256(const RGBQUAD* table) {
    for (int i = 10; i <= 245; ++i)
        if (!IsGrey(table[i])) return pk256Colors;
    for (int i = 0; i <= 9; ++i)
        if (!IsGrey(table[i])) return pkGray236;
    for (int i = 246; i <= 255; ++i)
        if (!IsGrey(table[i])) return pk256Colors;
    return pkGray256;
}

// Sets FLoading for the duration of a load, however it ends.
class TLoadingGuard {
public:
    explicit TLoadingGuard(bool& flag) : FFlag(flag) { FFlag = true; }
    ~TLoadingGuard() { FFlag = false; }
    TLoadingGuard(const TLoadingGuard&) = delete;
    TLoadingGuard& operator=(const TLoadingGuard&) = delete;

private:
    bool& FFlag;
};

}  // namespace

TDibInfo::TDibInfo(std::size_t size)
    : FData((std::max<std::size_t>(size, 40) + 3) / 4, 0), FSize(std::max<std::size_t>(size, 40)) {}

// Header and the full colour table of a bit count: 2, 16 or 256 entries, none above 8 bits.
static std::size_t InfoSizeOfBitCount(int bits) {
    return bits == 1 || bits == 4 || bits == 8 ? 40 + (std::size_t{4} << bits) : 40;
}

std::size_t InfoSize(const BITMAPINFOHEADER& header) {
    return InfoSizeOfBitCount(header.biBitCount);
}

std::uint64_t BytesPerLine(const BITMAPINFOHEADER& header) {
    return DibBytesPerLine(header.biWidth, header.biBitCount);
}

std::uint64_t ImageSize(const BITMAPINFOHEADER& header) {
    const std::int64_t h = header.biHeight;
    return BytesPerLine(header) * static_cast<std::uint64_t>(h < 0 ? -h : h);
}

int BitCountOfKind(TPaletteKind kind) {
    switch (kind) {
        case pkMono:
            return 1;
        case pk16Colors:
            return 4;
        case pk256Colors:
        case pkGray256:
        case pkGray236:
            return 8;
        default:
            return 24;
    }
}

std::size_t InfoSizeOfKind(TPaletteKind kind) { return InfoSizeOfBitCount(BitCountOfKind(kind)); }

TPaletteKind PaletteKindOfInfo(const BITMAPINFO* info) {
    if (info == nullptr) return pkTrueColor;
    switch (info->bmiHeader.biBitCount) {
        case 1:
            return pkMono;
        case 4:
            return pk16Colors;
        case 8:
            return KindOf256(info->bmiColors);
        default:
            return pkTrueColor;
    }
}

TPaletteKind PaletteKindOfPalette(const TPalette* palette) {
    if (palette == nullptr) return pkTrueColor;
    const auto& entries = palette->Entries();
    switch (entries.size()) {
        case 2:
            return pkMono;
        case 16:
            return pk16Colors;
        case 256: {
            RGBQUAD table[256];
            for (int i = 0; i < 256; ++i)
                table[i] = Quad(entries[i].peRed, entries[i].peGreen, entries[i].peBlue);
            return KindOf256(table);
        }
        default:
            return pkTrueColor;
    }
}

std::unique_ptr<TPalette> CreatePaletteOfInfo(const BITMAPINFO* info, bool& halftone) {
    halftone = false;
    if (info == nullptr || info->bmiHeader.biSize != 40) return nullptr;
    const int bits = info->bmiHeader.biBitCount;
    // The table of a record holds 2^bits entries for 1, 4 and 8 bits and none otherwise;
    // biClrUsed can only shorten it, never reach past it.
    unsigned n = 0;
    if (bits == 1 || bits == 4 || bits == 8) {
        n = 1u << bits;
        if (info->bmiHeader.biClrUsed != 0 && info->bmiHeader.biClrUsed < n)
            n = info->bmiHeader.biClrUsed;
    }
    if (n > 0) {
        std::vector<PALETTEENTRY> entries(n);
        for (unsigned i = 0; i < n; ++i) {
            const RGBQUAD& c = info->bmiColors[i];
            entries[i] = PALETTEENTRY{c.rgbRed, c.rgbGreen, c.rgbBlue, 0};
        }
        return std::make_unique<TPalette>(std::move(entries));
    }
    if (bits == 24) {
        halftone = true;
        return CreateHalftonePalette();
    }
    return nullptr;
}

std::unique_ptr<TPalette> CreatePaletteOfInfo(const BITMAPINFO* info) {
    bool halftone = false;
    return CreatePaletteOfInfo(info, halftone);
}

void Fill16ColorTable(RGBQUAD* table) {
    // The screen is never a 16-colour one here, so the static colours serve.
    for (int i = 0; i < 8; ++i) table[i] = StaticQuad(i);
    for (int i = 0; i < 8; ++i) table[8 + i] = StaticQuad(12 + i);
}

void FillSystemTable(RGBQUAD* table) {
    FillStaticEnds(table);
    for (int k = 0; k < 236; ++k) {
        const std::uint8_t g = Grey236(k);
        table[10 + k] = Quad(g, g, g);
    }
}

void FillGrayTable(RGBQUAD* table) {
    for (int i = 0; i < 256; ++i) {
        const auto g = static_cast<std::uint8_t>(i);
        table[i] = Quad(g, g, g);
    }
}

void FillInvGrayTable(RGBQUAD* table) {
    for (int i = 0; i < 256; ++i) {
        const auto g = static_cast<std::uint8_t>(255 - i);
        table[i] = Quad(g, g, g);
    }
}

void FillSystemGrayTable(RGBQUAD* table) { FillSystemTable(table); }

void FillSystemInvGrayTable(RGBQUAD* table) {
    FillStaticEnds(table);
    for (int k = 0; k < 236; ++k) {
        const auto g = static_cast<std::uint8_t>(255 - Grey236(k));
        table[10 + k] = Quad(g, g, g);
    }
}

namespace {
std::atomic<std::uint64_t> GPictureMemoryLimit{kMaxPictureMemory};
}  // namespace

std::uint64_t PictureMemoryLimit() { return GPictureMemoryLimit.load(std::memory_order_relaxed); }

void SetPictureMemoryLimit(std::uint64_t bytes) {
    GPictureMemoryLimit.store(bytes == 0 ? kMaxPictureMemory : bytes, std::memory_order_relaxed);
}

namespace {
thread_local TPictureMemoryAccount* GMemoryAccount = nullptr;
}  // namespace

TPictureMemoryScope::TPictureMemoryScope(TPictureMemoryAccount* account)
    : FPrevious(std::exchange(GMemoryAccount, account)) {}

TPictureMemoryScope::~TPictureMemoryScope() { GMemoryAccount = FPrevious; }

void CheckPictureMemory(std::uint64_t bytes) {
    const std::uint64_t limit = PictureMemoryLimit();
    if (bytes <= limit) {
        if (GMemoryAccount != nullptr) GMemoryAccount->Take(bytes);
        return;
    }
    // Whole megabytes, rounded up for the need and down for the limit, so the two never
    // read as equal.
    constexpr std::uint64_t kMb = std::uint64_t{1} << 20;
    throw EPixError(SPictureTooLarge, static_cast<unsigned long long>((bytes + kMb - 1) / kMb),
                    static_cast<unsigned long long>(limit / kMb));
}

// ---------------------------------------------------------------------------------------
// TDibPicture

TDibPicture::TDibPicture() = default;

TDibPicture::TDibPicture(int width, int height, TPaletteKind kind) { New(width, height, kind); }

TDibPicture::~TDibPicture() { Clear(); }

void TDibPicture::Changed() {
    if (OnChange) OnChange(*this);
}

void TDibPicture::New(int width, int height, TPaletteKind kind) {
    Clear();
    FPaletteKind = kind;
    AllocInfo(width, height, true);
    CreateSection();
    FPalette = CreatePaletteOfInfo(FInfo->Get());
    std::memset(FBits, 0, FBitmap->ImageSize());
    SelectBitmap();
    SelectPalette();
    Changed();
}

void TDibPicture::Clear() {
    FFields.Clear();
    if (FPalette) {
        FCanvas.SelectPalette(FOldPalette, false);
        FOldPalette = nullptr;
        FPalette.reset();
    }
    if (FBitmap) {
        FCanvas.SelectBitmap(FOldBitmap);
        FOldBitmap = nullptr;
        FBitmap.reset();
    }
    FBits = nullptr;
    FInfo.reset();
    FImgData16.reset();
    FFullWidth = 0;
    FFullHeight = 0;
}

void TDibPicture::SetDecodeBox(int width, int height) {
    FDecodeBoxWidth = std::max(width, 0);
    FDecodeBoxHeight = std::max(height, 0);
}

std::uint64_t TDibPicture::FullImageSize() const {
    if (!FInfo) return 0;
    return DibBytesPerLine(FullWidth(), BitCount()) * static_cast<std::uint64_t>(FullHeight());
}

void TDibPicture::AllocInfo(int width, int height, bool initTable) {
    const std::int64_t w = width < 0 ? -static_cast<std::int64_t>(width) : width;
    const std::int64_t h = height < 0 ? -static_cast<std::int64_t>(height) : height;
    if (w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX)
        throw EPixError(SInvalidImageSize, width, height);
    const int bits = BitCountOfKind(FPaletteKind);
    const std::uint64_t size = DibBytesPerLine(w, bits) * static_cast<std::uint64_t>(h);
    if (size > kMaxImageSize) throw EPixError(SImageTooLarge, width, height);
    CheckPictureMemory(size);

    auto info = std::make_unique<TDibInfo>(InfoSizeOfKind(FPaletteKind));
    if (initTable) {
        RGBQUAD* table = info->Colors();
        switch (FPaletteKind) {
            case pkMono:
                table[0] = Quad(0, 0, 0);
                table[1] = Quad(255, 255, 255);
                break;
            case pk16Colors:
                Fill16ColorTable(table);
                break;
            case pk256Colors:
                FillSystemTable(table);
                break;
            case pkGray256:
                FillGrayTable(table);
                break;
            case pkGray236:
                FillSystemGrayTable(table);
                break;
            case pkTrueColor:
                break;
        }
    }
    BITMAPINFOHEADER& hdr = info->Header();
    hdr.biSize = 40;
    hdr.biWidth = static_cast<std::int32_t>(w);
    hdr.biHeight = height;
    hdr.biPlanes = 1;
    hdr.biBitCount = static_cast<std::uint16_t>(bits);
    hdr.biCompression = BI_RGB;
    hdr.biSizeImage = static_cast<std::uint32_t>(size);
    FInfo = std::move(info);
}

void TDibPicture::CreateSection() {
    if (!FInfo) throw EPixError(SErrCreateDibSection);
    const std::uint64_t size = pix::ImageSize(FInfo->Header());
    if (size == 0 || size > kMaxImageSize) throw EPixError(SErrCreateDibSection);
    // Formats that build their record themselves reach the limit here; a 16-bit store made
    // beforehand counts too.
    CheckPictureMemory(
        size + (FImgData16 ? 2 * static_cast<std::uint64_t>(FImgData16->SampleCount()) : 0));
    FBitmap = TDibSection::Create(FInfo->Get(), size > kSectionMappingThreshold);
    if (!FBitmap) throw EPixError(SErrCreateDibSection);
    FBits = FBitmap->Bits();
}

void TDibPicture::SelectBitmap() { FOldBitmap = FCanvas.SelectBitmap(FBitmap.get()); }

void TDibPicture::SelectPalette() {
    if (!FPalette) return;
    FOldPalette = FCanvas.SelectPalette(FPalette.get(), false);
    FCanvas.RealizePalette();
}

void TDibPicture::AssignDIB(std::span<const std::uint8_t> dib) {
    if (dib.size() < sizeof(BITMAPINFOHEADER)) throw EPixError(SInvalidDibPointer);
    BITMAPINFOHEADER header;
    std::memcpy(&header, dib.data(), sizeof header);
    if (header.biSize != 40) throw EPixError(SInvalidDibHandle);
    const int bits = header.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
        throw EPixError(SDibBitCountFormat, LoadResString(SDibNotSupported).c_str(), bits);
    // Compressed bits would be taken as rows and shown as noise.
    if (header.biCompression != BI_RGB) throw EPixError(SDibNotSupported);
    const std::size_t infoSize = pix::InfoSize(header);
    if (dib.size() < infoSize) throw EPixError(SInvalidDibPointer);

    // The classification reads the whole 256-entry table of an 8-bit DIB, which the size
    // check above guarantees.
    TDibInfo source(infoSize);
    std::memcpy(source.Get(), dib.data(), infoSize);

    Clear();
    FPaletteKind = PaletteKindOfInfo(source.Get());
    AllocInfo(header.biWidth, header.biHeight, false);
    const unsigned entries = bits <= 8 ? 1u << bits : 0;
    if (entries > 0) {
        std::memcpy(FInfo->Colors(), source.Colors(), entries * sizeof(RGBQUAD));
        SetDIBColorTable(FCanvas, 0, entries, FInfo->Colors());
    }
    const std::uint64_t imageSize = pix::ImageSize(FInfo->Header());
    if (dib.size() - infoSize < imageSize) {
        FInfo.reset();
        throw EPixError(SInvalidDibPointer);
    }
    FPalette = CreatePaletteOfInfo(FInfo->Get());
    CreateSection();
    std::memcpy(FBits, dib.data() + infoSize, static_cast<std::size_t>(imageSize));
    SelectBitmap();
    SelectPalette();
    Changed();
}

int TDibPicture::Width() const { return FInfo ? FInfo->Header().biWidth : 0; }

int TDibPicture::Height() const {
    if (!FInfo) return 0;
    const int h = FInfo->Header().biHeight;
    return h < 0 ? -h : h;
}

std::uint64_t TDibPicture::BytesPerLine() const {
    return FInfo ? pix::BytesPerLine(FInfo->Header()) : 0;
}

std::uint64_t TDibPicture::ImageSize() const { return FInfo ? pix::ImageSize(FInfo->Header()) : 0; }

std::size_t TDibPicture::InfoSize() const { return FInfo ? pix::InfoSize(FInfo->Header()) : 0; }

int TDibPicture::BitCount() const { return FInfo ? FInfo->Header().biBitCount : 0; }

TPaletteKind TDibPicture::DetectPaletteKind() const {
    return PaletteKindOfInfo(FInfo ? FInfo->Get() : nullptr);
}

std::string TDibPicture::Description() const {
    return MacUmlautsToAnsi(FFields.GetAscii(kTagImageDescription));
}

void TDibPicture::SetDescription(const std::string& text) {
    if (text == Description()) return;
    FModified = true;
    if (text.empty())
        FFields.DeleteField(kTagImageDescription);
    else
        FFields.SetAscii(kTagImageDescription, text);
}

void TDibPicture::CreateImgData16() {
    FImgData16.reset();
    if (!FInfo) return;
    const std::int64_t samples =
        static_cast<std::int64_t>(Width()) * static_cast<std::int64_t>(Height());
    // The store is made before the raster; both must fit the limit together.
    CheckPictureMemory(pix::ImageSize(FInfo->Header()) + 2 * static_cast<std::uint64_t>(samples));
    FImgData16 = std::make_unique<TImgData16>(samples * 2);
}

void TDibPicture::Map16To8() {
    if (!FImgData16 || !FInfo || !FBitmap || BitCount() != 8) return;
    const int w = Width();
    const int h = Height();
    // A store made for another size maps only the rows it holds.
    const std::int64_t rows = std::min<std::int64_t>(h, w > 0 ? FImgData16->SampleCount() / w : 0);
    const std::uint8_t* table = FImgData16->Table.data();
    for (std::int64_t r = 0; r < rows; ++r) {
        const std::uint16_t* src = FImgData16->Words() + r * w;
        std::uint8_t* dst = FBitmap->Row(static_cast<int>(r));
        for (int x = 0; x < w; ++x) dst[x] = table[src[x]];
    }
}

void TDibPicture::SetPalette(std::unique_ptr<TPalette> palette) {
    if (palette.get() == FPalette.get()) return;
    // The context must never keep a palette that is about to be deleted.
    if (FPalette) FCanvas.SelectPalette(FOldPalette, false);
    FPalette = std::move(palette);
    FOldPalette = nullptr;
    SelectPalette();
    FPaletteKind = DetectPaletteKind();
    Changed();
}

void TDibPicture::CopyPalette(const TDibPicture* source) {
    if (source == nullptr || !source->FInfo || !FInfo) return;
    const int bits = source->BitCount();
    if ((bits != 1 && bits != 4 && bits != 8) || bits != BitCount()) return;
    const unsigned entries = 1u << bits;
    std::memcpy(FInfo->Colors(), source->FInfo->Colors(), entries * sizeof(RGBQUAD));
    SetDIBColorTable(FCanvas, 0, entries, FInfo->Colors());
    SetPalette(CreatePaletteOfInfo(FInfo->Get()));
}

void TDibPicture::Draw(TDeviceContext& canvas, int x, int y, bool background) const {
    if (!FInfo || FBits == nullptr) return;
    const TPalette* old = canvas.SelectPalette(FPalette.get(), background);
    canvas.RealizePalette();
    SetDIBitsToDevice(canvas, x, y, static_cast<unsigned>(Width()), static_cast<unsigned>(Height()),
                      0, 0, 0, static_cast<unsigned>(Height()), FBits, FInfo->Get(),
                      DIB_RGB_COLORS);
    canvas.SelectPalette(old, true);
}

void TDibPicture::StretchDraw(TDeviceContext& canvas, const TRect& rect, bool background) const {
    if (!FInfo || FBits == nullptr) return;
    const TPalette* old = canvas.SelectPalette(FPalette.get(), background);
    canvas.RealizePalette();
    const int d = canvas.GetDeviceCaps(BITSPIXEL) * canvas.GetDeviceCaps(PLANES);
    const BITMAPINFOHEADER& hdr = FInfo->Header();
    // Picking one source pixel per target pixel turns fine periodic structures (gratings,
    // calibration samples) into moiré when a picture is reduced, so a reduction always
    // averages what each target pixel covers.
    const bool reduces =
        std::abs(rect.Right - rect.Left) < Width() || std::abs(rect.Bottom - rect.Top) < Height();
    if (!reduces && (d > 8 || d >= hdr.biBitCount * hdr.biPlanes)) {
        canvas.SetStretchBltMode(COLORONCOLOR);
    } else {
        const POINT origin = canvas.GetBrushOrg();
        canvas.SetStretchBltMode(HALFTONE);
        canvas.SetBrushOrg(origin);
    }
    StretchDIBits(canvas, rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top, 0, 0,
                  Width(), Height(), FBits, FInfo->Get(), DIB_RGB_COLORS, SRCCOPY);
    canvas.SelectPalette(old, true);
}

bool TDibPicture::AdoptSection(std::unique_ptr<TDibSection>& decoded) {
    if (!decoded || !FBitmap) return false;
    const BITMAPINFOHEADER& made = FBitmap->Header();
    const BITMAPINFOHEADER& other = decoded->Header();
    if (made.biWidth != other.biWidth || made.biHeight != other.biHeight ||
        made.biBitCount != other.biBitCount || FBitmap->ColorCount() != decoded->ColorCount() ||
        (FBitmap->ColorCount() != 0 && std::memcmp(FBitmap->Colors(), decoded->Colors(),
                                                   FBitmap->ColorCount() * sizeof(RGBQUAD)) != 0))
        return false;
    // The canvas keeps its FOldBitmap; only the selected raster changes.
    std::swap(FBitmap, decoded);
    FBits = FBitmap->Bits();
    FCanvas.SelectBitmap(FBitmap.get());
    decoded.reset();
    return true;
}

void TDibPicture::Progress(int firstRow, int rowCount, int percent) {
    if (!OnProgress) return;
    bool abort = false;
    OnProgress(*this, firstRow, rowCount, percent, abort);
    if (abort) FAbortLoad = true;
}

void TDibPicture::LoadFromHandle(std::span<const std::uint8_t> block) {
    if (block.empty()) return;
    AssignDIB(block);
    Changed();
}

bool TDibPicture::LoadFromStream(TStream& stream) {
    if (FLoading) return false;
    TLoadingGuard guard(FLoading);
    FAbortLoad = false;
    Clear();

    const std::int64_t next = ReadHeader(stream, FInfo);
    // A decoder that decodes in ReadHeader (PNG, JPEG) may have stopped there already.
    if (FStopToken.stop_requested()) throw EPixError(SLoadCancelled);
    if (!FInfo) throw EPixError(SErrCreateDibSection);
    if (!FPalette) FPalette = CreatePaletteOfInfo(FInfo->Get());
    if (OnHeader) OnHeader(*this, FInfo->Get());
    CreateSection();
    SelectBitmap();
    ReadBits(stream);
    if (FStopToken.stop_requested()) throw EPixError(SLoadCancelled);
    SelectPalette();
    if (OnLoaded) OnLoaded(*this);
    Changed();

    if (next != 0) {
        stream.Seek(next, soFromBeginning);
        return true;
    }
    stream.Seek(0, soFromEnd);
    return false;
}

void TDibPicture::LoadFromFile(const std::string& fileName) {
    if (FLoading) return;
    TLwMappedStream stream(fileName, fmOpenRead | fmShareDenyWrite, FStopToken);
    FFileName = fileName;
    ReadFileHeader(stream);
    LoadFromStream(stream);
}

void TDibPicture::SaveToFile(const std::string& fileName) {
    // The whole file is made in memory first, so a failing writer leaves the target as it
    // was; TAtomicFile then puts the bytes in place in one step.
    TMemoryStream buffer;
    WriteFileHeader(buffer);
    WriteData(buffer, false);
    TAtomicFile file(fileName);
    file.Write(buffer.Data().data(), buffer.Data().size());
    file.Commit();
    FFileName = fileName;
    FModified = false;
}

}  // namespace pix
