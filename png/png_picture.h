// SPDX-License-Identifier: MIT
// PNG files through the program's own PNG decoder.
#pragma once

#include "imaging/dib_picture.h"
#include "png/png_object.h"

#include <memory>

namespace pix {

class TPngPicture : public TDibPicture {
public:
    using TDibPicture::TDibPicture;

    std::int64_t ReadHeader(TStream& stream, std::unique_ptr<TDibInfo>& info) override;
    void ReadBits(TStream& stream) override;
    void ReadFileHeader(TStream& stream) override;
    void WriteFileHeader(TStream& stream) override;
    void WriteData(TStream& stream, bool option) override;

private:
    // Fills the section with the colour-table entry nearest to black.
    void FillWithBlack();

    // Alive from ReadHeader to the end of ReadBits.
    std::unique_ptr<TPNGObject> FPng;
};

}  // namespace pix
