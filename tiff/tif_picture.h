// SPDX-License-Identifier: MIT
// TIFF files through the program's own TIFF reader and writer.
#pragma once

#include "imaging/dib_picture.h"

#include <cstdint>
#include <unordered_set>

namespace pix {

// A picture read from and written to TIFF files, including 16-bit grey images, whose
// samples it keeps beside the 8-bit display bitmap.
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
    // Offsets of the directories read from the current file, so that a chain that loops
    // back ends instead of offering the same images again and again.
    std::unordered_set<std::int64_t> FVisitedIfds;
};

}  // namespace pix
