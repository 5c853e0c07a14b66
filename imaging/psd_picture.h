// SPDX-License-Identifier: MIT
// The acquisition system's own 12-bit grey raw format.
#pragma once

#include "imaging/dib_picture.h"

namespace pix {

class TPePsdPicture : public TDibPicture {
public:
    using TDibPicture::TDibPicture;

    std::int64_t ReadHeader(TStream& stream, std::unique_ptr<TDibInfo>& info) override;
    void ReadBits(TStream& stream) override;
    void ReadFileHeader(TStream& stream) override;
    void WriteFileHeader(TStream& stream) override;
    void WriteData(TStream& stream, bool option) override;
};

}  // namespace pix
