// SPDX-License-Identifier: MIT
#include "imaging/png_picture.h"

#include "imaging/image_messages.h"
#include "platform/error.h"

namespace pix {

// The decoder of this format is not part of the build yet: every hook refuses clearly.
namespace {
[[noreturn]] void NotSupported() { throw EPixError(Fmt(SFormatNotSupported, "PNG")); }
}  // namespace

std::int64_t TPngPicture::ReadHeader(TStream&, std::unique_ptr<TDibInfo>&) { NotSupported(); }
void TPngPicture::ReadBits(TStream&) { NotSupported(); }
void TPngPicture::ReadFileHeader(TStream&) { NotSupported(); }
void TPngPicture::WriteFileHeader(TStream&) { NotSupported(); }
void TPngPicture::WriteData(TStream&, bool) { NotSupported(); }

}  // namespace pix
