// SPDX-License-Identifier: MIT
#include "thumbs/thumb_maker.h"

#include "formats/bmp_picture.h"
#include "formats/format_table.h"

#include "imaging/mapped_memory.h"
#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/mul_div.h"
#include "platform/res_strings.h"
#include "tiff/tif_picture.h"
#include "tiff/tiff_reader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace pix {
namespace {

// Every image of a hostile file may point its description at the same large block; beyond
// this length the comment takes no further lines, so 64 images cannot multiply the file.
constexpr std::size_t kMaxCommentLength = std::size_t{1} << 24;

int ClampToInt(long double value) {
    // Rectangles of hostile layouts must not overflow the drawing's int arithmetic; anything
    // this far outside a thumbnail canvas is clipped away anyway.
    constexpr long double kLimit = 1 << 30;
    return static_cast<int>(std::clamp(value, -kLimit, kLimit));
}

int RoundToEven(long double value) { return ClampToInt(std::nearbyint(value)); }

// True when the field holds exactly one value and it is `expected`.
bool HasSingleValue(const TFieldList& fields, std::uint16_t tag, std::uint32_t expected) {
    TFieldEntry entry;
    if (fields.GetField(tag, entry) < 0 || entry.Count != 1) return false;
    const std::uint8_t* bytes = entry.ValueBytes();
    if (bytes == nullptr) return false;
    switch (entry.FieldType) {
        case ftByte:
            return bytes[0] == expected;
        case ftShort: {
            std::uint16_t v;
            std::memcpy(&v, bytes, sizeof v);
            return v == expected;
        }
        case ftLong: {
            std::uint32_t v;
            std::memcpy(&v, bytes, sizeof v);
            return v == expected;
        }
        default:
            return false;
    }
}

// What every TIFF entry takes from its first image besides sizes and comment.
void TakeFirstImageFields(const TDibPicture& picture, TThumbInfo& info) {
    info.Author = picture.Fields().GetAscii(tagArtist);
    info.Copyright = picture.Fields().GetAscii(tagCopyright);
    ReadVexaHeader(picture.Fields(), info);
}

// Adds the description of image `number` (1-based) as a line "[number] description"; lines
// are separated by CR LF. Appending in place keeps 64 long lines linear.
void AppendImageComment(std::string& comment, int number, const std::string& description) {
    if (description.empty() || comment.size() >= kMaxCommentLength) return;
    if (!comment.empty()) comment += "\r\n";
    comment += '[';
    comment += std::to_string(number);
    comment += "] ";
    comment += description;
}

void DrawPlaced(const TDibPicture& image, const TVexaPlacement& placement, const TRect& bounds,
                float scale, TDibPicture& mosaic) {
    const TRect rect = MosaicPlacement(placement, bounds, scale, image.Width(), image.Height());
    image.StretchDraw(mosaic.Canvas(), rect, true);
}

// The single images of a multi-image file placed by its layout on a white canvas. `picture`
// holds the first image; it is reused for the others, since it knows the file's byte order.
std::unique_ptr<TDibPicture> BuildMosaic(TStream& stream, TTifPicture& picture, bool more,
                                         const TVexaLayout& layout, int count, int boxWidth,
                                         int boxHeight, TThumbInfo& info) {
    const TRect bounds = LayoutBounds(layout, count);
    info.Width = bounds.Right - bounds.Left;
    info.Height = bounds.Bottom - bounds.Top;
    const float scale = FitScale(info.Width, info.Height, boxWidth, boxHeight);
    const TThumbSize size = MosaicSize(info.Width, info.Height, scale);
    auto mosaic = std::make_unique<TTifPicture>(size.Width, size.Height, pkTrueColor);
    std::memset(mosaic->Bits(), 0xFF, static_cast<std::size_t>(mosaic->ImageSize()));

    DrawPlaced(picture, layout.Items[0], bounds, scale, *mosaic);
    // The directory chain of the count and the one the loads follow are the same; a load
    // that reports no further image ends the mosaic all the same.
    for (int i = 1; i < count && more; ++i) {
        more = picture.LoadFromStream(stream);
        AppendImageComment(info.Comment, i + 1, picture.Description());
        DrawPlaced(picture, layout.Items[static_cast<std::size_t>(i)], bounds, scale, *mosaic);
    }
    return mosaic;
}

// Loads a TIFF file by the entry's rules and returns the picture its thumbnail shows.
std::unique_ptr<TDibPicture> LoadTiff(const std::string& path, int boxWidth, int boxHeight,
                                      TThumbInfo& info, std::stop_token stop) {
    TLwMappedStream stream(path, fmOpenRead | fmShareDenyWrite, stop);
    const int count = CountTiffImages(stream);
    info.ImageCount = count;
    stream.SetPosition(0);

    auto picture = std::make_unique<TTifPicture>();
    picture->SetStopToken(std::move(stop));
    picture->ReadFileHeader(stream);
    const bool more = picture->LoadFromStream(stream);
    TakeFirstImageFields(*picture, info);

    if (count < 2) {
        info.BitCount =
            HasSingleValue(picture->Fields(), tagBitsPerSample, 16) ? 16 : picture->BitCount();
        info.Comment = picture->Description();
        info.Width = picture->Width();
        info.Height = picture->Height();
        info.DataSize = static_cast<std::int32_t>(picture->ImageSize());
        return picture;
    }

    // Files are at most kMaxFileSize bytes, so the size fits.
    info.DataSize = static_cast<std::int32_t>(stream.Size());
    AppendImageComment(info.Comment, 1, picture->Description());
    const std::optional<TVexaLayout> layout = ReadVexaLayout(picture->Fields());
    if (!layout) return picture;
    const int placed = std::min(count, layout->Count);
    return BuildMosaic(stream, *picture, more, *layout, placed, boxWidth, boxHeight, info);
}

}  // namespace

TThumbSize ThumbnailSize(int boxWidth, int boxHeight, int width, int height) {
    TThumbSize size{boxWidth, boxHeight};
    if (width > 0 && height > 0 && boxHeight > 0) {
        if (static_cast<double>(boxWidth) / boxHeight >= static_cast<double>(width) / height)
            size.Width = MulDiv(boxHeight, width, height);
        else
            size.Height = MulDiv(boxWidth, height, width);
    }
    // A line scan hundreds of times wider than high would round its short side to 0 and get
    // no thumbnail at all; MulDiv's -1 for an overflow lands here too.
    size.Width = std::max(size.Width, 1);
    size.Height = std::max(size.Height, 1);
    return size;
}

float FitScale(int width, int height, int boxWidth, int boxHeight) {
    if (boxHeight == 0 || height == 0) return 0;
    const float q = static_cast<float>(static_cast<double>(boxWidth) / boxHeight);
    if (static_cast<double>(width) / height > q) {
        if (width == 0) return 0;  // only for a negative box
        return static_cast<float>(static_cast<double>(boxWidth) / width);
    }
    return static_cast<float>(static_cast<double>(boxHeight) / height);
}

TRect LayoutBounds(const TVexaLayout& layout, int count) {
    TRect bounds{INT_MAX, INT_MAX, 0, 0};
    count = std::clamp(count, 0, static_cast<int>(layout.Items.size()));
    for (int i = 0; i < count; ++i) {
        const TVexaPlacement& p = layout.Items[static_cast<std::size_t>(i)];
        bounds.Left = std::min<int>(bounds.Left, p.Left);
        bounds.Top = std::min<int>(bounds.Top, p.Top);
        bounds.Right = std::max(bounds.Right, p.Left + p.Width);
        bounds.Bottom = std::max(bounds.Bottom, p.Top + p.Height);
    }
    // No placement leaves the start values; an empty box at the origin is what they mean.
    if (count == 0) bounds = TRect{0, 0, 0, 0};
    return bounds;
}

TThumbSize MosaicSize(int width, int height, float scale) {
    // The product is taken in extended precision and truncated toward zero; a tiny layout
    // may still give 0, and a picture needs at least one pixel each way.
    const long double w = std::trunc(static_cast<long double>(width) * scale);
    const long double h = std::trunc(static_cast<long double>(height) * scale);
    return TThumbSize{std::max(ClampToInt(w), 1), std::max(ClampToInt(h), 1)};
}

TRect MosaicPlacement(const TVexaPlacement& placement, const TRect& bounds, float scale,
                      int imageWidth, int imageHeight) {
    const float fit = FitScale(imageWidth, imageHeight, placement.Width, placement.Height);
    // Products of two 32-bit reals are exact in extended precision, so the scale of the
    // image on the canvas does not depend on the order of the factors.
    const long double both = static_cast<long double>(scale) * fit;
    TRect rect;
    rect.Left = RoundToEven(static_cast<long double>(placement.Left - bounds.Left) * scale);
    rect.Top = RoundToEven(static_cast<long double>(placement.Top - bounds.Top) * scale);
    rect.Right = rect.Left + RoundToEven(imageWidth * both);
    rect.Bottom = rect.Top + RoundToEven(imageHeight * both);
    return rect;
}

void StretchOnto(const TDibPicture& source, TDibPicture& target) {
    target.CopyPalette(&source);
    source.StretchDraw(target.Canvas(), TRect{0, 0, target.Width(), target.Height()}, true);
}

void MakeThumbInfo(const std::string& path, int boxWidth, int boxHeight, TThumbInfo& info,
                   std::stop_token stop) {
    info.Clear();
    info.FileDate = FileAge(path);
    try {
        std::unique_ptr<TDibPicture> source;
        const TImageFormatInfo& format = ImageFormatForFile(path);
        if (format.TiffEntry) {
            source = LoadTiff(path, boxWidth, boxHeight, info, stop);
        } else {
            source = format.Create();
            source->SetStopToken(stop);
            // Only the thumbnail is wanted: a format that can decode reduced (JPEG) need
            // deliver no more than the box. The entry still describes the stored image.
            source->SetDecodeBox(boxWidth, boxHeight);
            source->LoadFromFile(path);
            info.DataSize = static_cast<std::int32_t>(source->FullImageSize());
            info.Width = source->FullWidth();
            info.Height = source->FullHeight();
            info.BitCount = source->BitCount();
        }
        // A stop that came after the last row spares the reduction all the same.
        if (stop.stop_requested()) throw EPixError(SLoadCancelled);
        // The full size decides the thumbnail's shape, so a reduced decode (whose sides are
        // rounded up) gives the thumbnail the full decode would.
        const TThumbSize size =
            ThumbnailSize(boxWidth, boxHeight, source->FullWidth(), source->FullHeight());
        auto thumbnail =
            std::make_unique<TBmpPicture>(size.Width, size.Height, source->DetectPaletteKind());
        StretchOnto(*source, *thumbnail);
        info.Thumbnail = std::move(thumbnail);
    } catch (...) {
        // A file that cannot be made into an entry keeps only its date.
        const std::int32_t fileDate = info.FileDate;
        info.Clear();
        info.FileDate = fileDate;
        throw;
    }
}

}  // namespace pix
