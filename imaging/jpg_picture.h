// SPDX-License-Identifier: MIT
// JPEG files through libjpeg.
#pragma once

#include "imaging/dib_picture.h"

namespace pix {

// Greyscale JPEGs become 8-bit pictures with the grey ramp (pkGray256), all others 24-bit
// pictures; CMYK and YCCK files are converted to RGB. libjpeg's errors become EPixError
// with libjpeg's message; warnings (a truncated file) leave the partly decoded image.
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
