// SPDX-License-Identifier: MIT
#include "imaging/psd_picture.h"

#include "imaging/image_messages.h"
#include "platform/error.h"

namespace pix {

// The decoder of this format is not part of the build yet: every hook refuses clearly.
namespace {
[[noreturn]] void NotSupported() { throw EPixError(Fmt(SFormatNotSupported, "VEXA-PSD")); }
}  // namespace

std::int64_t TPePsdPicture::ReadHeader(TStream&, std::unique_ptr<TDibInfo>&) { NotSupported(); }
void TPePsdPicture::ReadBits(TStream&) { NotSupported(); }
void TPePsdPicture::ReadFileHeader(TStream&) { NotSupported(); }
void TPePsdPicture::WriteFileHeader(TStream&) { NotSupported(); }
void TPePsdPicture::WriteData(TStream&, bool) { NotSupported(); }

}  // namespace pix
