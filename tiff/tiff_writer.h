// SPDX-License-Identifier: MIT
// The TIFF writer: uncompressed, single-strip, little-endian baseline TIFF.
#pragma once

#include <cstdint>

#include "imaging/dib_picture.h"
#include "imaging/field_list.h"
#include "imaging/stream.h"

namespace pix {

// Writes "II", 42 and the first IFD offset 8.
void WriteTiffHeader(TStream& stream);

// Writes the IFD, the field data and the pixels of one image at the stream's position.
// `pixels` is the picture's section (bottom-up rows described by `info`) when `bits` is the
// bitmap's bit count, or the 16-bit sample buffer (top row first, width × height samples)
// when `bits` is 16; for 16-bit samples `info` still describes the 8-bit bitmap and its
// colour table tells BlackIsZero from WhiteIsZero. `another` says that a further image
// follows in the same stream. Descriptive and private fields are copied from `fields`.
void WriteTiffImage(TStream& stream, const void* pixels, const TDibInfo& info, bool another,
                    const TFieldList& fields, int bits);

}  // namespace pix
