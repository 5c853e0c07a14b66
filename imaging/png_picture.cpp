// SPDX-License-Identifier: MIT
#include "imaging/png_picture.h"

#include "imaging/image_messages.h"
#include "platform/error.h"

#include <cstring>

namespace pix {

std::int64_t TPngPicture::ReadHeader(TStream& stream, std::unique_ptr<TDibInfo>& info) {
    if (!FPng) FPng = std::make_unique<TPNGObject>();
    FPng->LoadFromStream(stream);
    const TPalette* palette = FPng->Palette();
    FPalette = palette ? CreatePalette(palette->Entries().data(),
                                       static_cast<unsigned>(palette->Entries().size()))
                       : nullptr;
    FPaletteKind = PaletteKindOfPalette(FPalette.get());
    AllocInfo(FPng->Width(), FPng->Height(), true);
    // Grey and palette images keep their own colours as the table: the bitmap then draws
    // index for index, where a default table of the palette kind would map the file's
    // colours onto unrelated entries.
    const TDibSection* bitmap = FPng->Bitmap();
    if (palette && bitmap && bitmap->BitCount() == FInfo->Header().biBitCount) {
        const unsigned n = std::min(bitmap->ColorCount(), FInfo->TableEntries());
        std::memcpy(FInfo->Colors(), bitmap->Colors(), n * sizeof(RGBQUAD));
    }
    if (&info != &FInfo) info = std::move(FInfo);
    return 0;
}

void TPngPicture::ReadBits(TStream&) {
    ImageAbort = 0;
    if (!FPng) return;
    const TPalette* old = nullptr;
    if (FPalette) {
        old = FCanvas.SelectPalette(FPalette.get(), true);
        FCanvas.RealizePalette();
    }
    FPng->Draw(FCanvas, TRect{0, 0, Width(), Height()});
    if (FPalette) FCanvas.SelectPalette(old, true);
    FPng.reset();
    Progress(1, 1, 100);
}

void TPngPicture::ReadFileHeader(TStream&) {}

void TPngPicture::WriteFileHeader(TStream&) {}

void TPngPicture::WriteData(TStream&, bool) {
    // Nothing in the program saves a picture as PNG; the decoder has no encoder.
    throw EPixError(Fmt(SFormatNotSupported, "PNG writing"));
}

}  // namespace pix
