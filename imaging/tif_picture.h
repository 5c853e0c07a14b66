// SPDX-License-Identifier: MIT
// TIFF files through the program's own TIFF reader and writer.
#pragma once

#include "imaging/dib_picture.h"

namespace pix {

class TTifPicture : public TDibPicture {
public:
    using TDibPicture::TDibPicture;

    std::int64_t ReadHeader(TStream& stream, std::unique_ptr<TDibInfo>& info) override;
    void ReadBits(TStream& stream) override;
    void ReadFileHeader(TStream& stream) override;
    void WriteFileHeader(TStream& stream) override;
    void WriteData(TStream& stream, bool option) override;

protected:
    // The compression value that the directory gave, for ReadBits.
    std::uint32_t FCompression = 0;
    // 1 selects the big-endian directory reader.
    std::uint8_t FByteOrder = 0;
};

}  // namespace pix
