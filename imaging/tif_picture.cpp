// SPDX-License-Identifier: MIT
#include "imaging/tif_picture.h"

#include "imaging/image_messages.h"
#include "platform/error.h"

namespace pix {

// The decoder of this format is not part of the build yet: every hook refuses clearly.
namespace {
[[noreturn]] void NotSupported() { throw EPixError(Fmt(SFormatNotSupported, "TIFF")); }
}  // namespace

std::int64_t TTifPicture::ReadHeader(TStream&, std::unique_ptr<TDibInfo>&) { NotSupported(); }
void TTifPicture::ReadBits(TStream&) { NotSupported(); }
void TTifPicture::ReadFileHeader(TStream&) { NotSupported(); }
void TTifPicture::WriteFileHeader(TStream&) { NotSupported(); }
void TTifPicture::WriteData(TStream&, bool) { NotSupported(); }

}  // namespace pix
