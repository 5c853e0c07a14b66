// SPDX-License-Identifier: MIT
// JPEG files through libjpeg.
#pragma once

#include "imaging/dib_picture.h"

namespace pix {

// The libjpeg scale denominator (1, 2, 4 or 8) for decoding a width × height JPEG for a
// box: the largest whose output (each side divided and rounded up, as libjpeg sizes it)
// still covers the box in both directions. 1 for an empty box or a picture not larger
// than the box.
int JpegScaleDenominator(int width, int height, int boxWidth, int boxHeight);

// Greyscale JPEGs become 8-bit pictures with the grey ramp (pkGray256), all others 24-bit
// pictures; CMYK and YCCK files are converted to RGB. libjpeg's errors become EPixError
// with libjpeg's message; warnings (a truncated file) leave the partly decoded image. With
// a decode box, libjpeg's DCT scaling decodes at 1/2, 1/4 or 1/8 of the size, which skips
// most of the inverse transforms and colour conversion.
class TJpgPicture : public TDibPicture {
public:
    using TDibPicture::TDibPicture;
    ~TJpgPicture() override;

    std::int64_t ReadHeader(TStream& stream, std::unique_ptr<TDibInfo>& info) override;
    void ReadBits(TStream& stream) override;
    void ReadFileHeader(TStream& stream) override;
    void WriteFileHeader(TStream& stream) override;
    // Encodes with the picture's Quality clamped to 1..100.
    void WriteData(TStream& stream, bool option) override;

private:
    // The decoded image between ReadHeader and ReadBits.
    std::unique_ptr<TDibSection> FTempBitmap;
};

}  // namespace pix
