// SPDX-License-Identifier: MIT
// Windows bitmap files.
#pragma once

#include "imaging/dib_picture.h"

namespace pix {

// Reads BMP files with a 40-byte info header, and also the other common variants: OS/2
// core and version-2 headers, the version-4 and -5 headers, short or long colour tables
// (biClrUsed), pixel data at its stated offset, top-down rows, run-length compressed
// 4- and 8-bit rows, 2-bit pixels (held as 4-bit), and 16- and 32-bit pixels with or
// without colour masks (held as 24-bit). Anything else is refused with a message.
// Writes the plain form: a 14-byte file header, the 40-byte header, the colour table of
// the picture's kind and the rows.
class TBmpPicture : public TDibPicture {
public:
    using TDibPicture::TDibPicture;

    std::int64_t ReadHeader(TStream& stream, std::unique_ptr<TDibInfo>& info) override;
    void ReadBits(TStream& stream) override;
    void ReadFileHeader(TStream& stream) override;
    void WriteFileHeader(TStream& stream) override;
    void WriteData(TStream& stream, bool option) override;

private:
    // What ReadFileHeader and ReadHeader learnt of the file, for ReadBits.
    struct TLayout;
    // shared_ptr, since the inherited constructors need no complete TLayout to clean up.
    std::shared_ptr<TLayout> FLayout;

public:
    ~TBmpPicture() override;
};

}  // namespace pix
