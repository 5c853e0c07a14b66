// SPDX-License-Identifier: MIT
#include "platform/gui/dib_qimage.h"

#include <QList>

#include <algorithm>
#include <cstring>
#include <limits>

namespace pix {

namespace {

// Builds the image from a header, a colour table of `colorCount` entries and the bits
// (|biHeight| rows of DibBytesPerLine bytes in the header's row order).
QImage ToQImage(const BITMAPINFOHEADER& h, const RGBQUAD* colors, unsigned colorCount,
                const std::uint8_t* bits) {
    const int bitCount = h.biBitCount;
    if (bits == nullptr || h.biPlanes != 1 || h.biCompression != BI_RGB || h.biWidth <= 0 ||
        h.biHeight == 0 || h.biHeight == std::numeric_limits<std::int32_t>::min())
        return {};
    QImage::Format format;
    switch (bitCount) {
        case 1:
            format = QImage::Format_Mono;
            break;
        case 4:
        case 8:
            format = QImage::Format_Indexed8;
            break;
        case 24:
            format = QImage::Format_BGR888;
            break;
        default:
            return {};
    }
    const int width = h.biWidth;
    const int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    const std::uint64_t bytesPerLine = DibBytesPerLine(width, bitCount);
    if (bytesPerLine * static_cast<std::uint64_t>(height) > 0x7FFFFFFF) return {};
    QImage image(width, height, format);
    if (image.isNull()) return {};

    if (bitCount <= 8) {
        // Every index the pixels can hold gets a colour, so Qt never meets an index past the
        // end of the table.
        QList<QRgb> table(1 << bitCount, qRgb(0, 0, 0));
        for (unsigned i = 0; i < std::min<unsigned>(colorCount, 1u << bitCount); ++i)
            table[i] = qRgb(colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue);
        image.setColorTable(table);
    }

    // The packed row length; QImage pads its rows to 4 bytes as well, but only the pixel
    // bytes are copied.
    const auto rowBytes = static_cast<std::size_t>(
        bitCount == 4 ? 0 : (static_cast<std::uint64_t>(width) * bitCount + 7) / 8);
    for (int y = 0; y < height; ++y) {
        const int stored = h.biHeight < 0 ? y : height - 1 - y;
        const std::uint8_t* in = bits + static_cast<std::size_t>(stored) * bytesPerLine;
        uchar* out = image.scanLine(y);
        if (bitCount == 4) {
            for (int x = 0; x < width; ++x)
                out[x] = static_cast<uchar>((x & 1) ? in[x >> 1] & 0x0F : in[x >> 1] >> 4);
        } else {
            std::memcpy(out, in, rowBytes);
        }
    }
    return image;
}

}  // namespace

QImage DibToQImage(const BITMAPINFO* info, const void* bits) {
    if (info == nullptr || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER)) return {};
    // The colour table follows the 40 header bytes.
    const auto* colors = reinterpret_cast<const RGBQUAD*>(
        reinterpret_cast<const std::uint8_t*>(info) + sizeof(BITMAPINFOHEADER));
    return ToQImage(info->bmiHeader, colors, DibColorCount(info->bmiHeader),
                    static_cast<const std::uint8_t*>(bits));
}

QImage DibToQImage(const TDibSection& section) {
    return ToQImage(section.Header(), section.Colors(), section.ColorCount(), section.Bits());
}

}  // namespace pix
