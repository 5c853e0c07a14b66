// SPDX-License-Identifier: MIT
#include "png/png_picture.h"

#include "platform/error.h"
#include "platform/res_strings.h"

#include <cstring>

namespace pix {

std::int64_t TPngPicture::ReadHeader(TStream& stream, std::unique_ptr<TDibInfo>& info) {
    if (!FPng) FPng = std::make_unique<TPNGObject>();
    FPng->SetStopToken(FStopToken);
    FPng->LoadFromStream(stream);
    const TPalette* palette = FPng->Palette();
    FPalette = palette ? CreatePalette(palette->Entries().data(),
                                       static_cast<unsigned>(palette->Entries().size()))
                       : nullptr;
    FPaletteKind = PaletteKindOfPalette(FPalette.get());
    // Grey with alpha is blended grey by grey: the even grey ramp holds every blended value
    // exactly, where the image's own (gamma-shaped) table would snap it to a neighbour.
    const bool blendedGrey = FPng->Header() && FPng->Header()->ColorType == 4;
    if (blendedGrey) {
        FPalette.reset();
        FPaletteKind = pkGray256;
    }
    AllocInfo(FPng->Width(), FPng->Height(), true);
    // Grey and palette images keep their own colours as the table: the bitmap then draws
    // index for index, where a default table of the palette kind would map the file's
    // colours onto unrelated entries.
    const TDibSection* bitmap = FPng->Bitmap();
    if (palette && !blendedGrey && bitmap && bitmap->BitCount() == FInfo->Header().biBitCount) {
        const unsigned n = std::min(bitmap->ColorCount(), FInfo->TableEntries());
        std::memcpy(FInfo->Colors(), bitmap->Colors(), n * sizeof(RGBQUAD));
    }
    if (&info != &FInfo) info = std::move(FInfo);
    return 0;
}

void TPngPicture::ReadBits(TStream&) {
    if (!FPng) return;
    // An opaque image whose bitmap has the picture's format and table becomes the picture's
    // raster as it is: drawing it would only copy it.
    if (FPng->TransparencyMode() == ptmNone && AdoptSection(FPng->DecodedBitmap())) {
        FPng.reset();
        Progress(1, 1, 100);
        return;
    }
    const TPalette* old = nullptr;
    if (FPalette) {
        old = FCanvas.SelectPalette(FPalette.get(), true);
        FCanvas.RealizePalette();
    }
    // Transparent parts show black, as on a picture with a default table: an indexed
    // section starts at index 0, which here is the file's own first colour.
    if (FPng->TransparencyMode() != ptmNone && BitCount() <= 8) FillWithBlack();
    FPng->Draw(FCanvas, TRect{0, 0, Width(), Height()});
    if (FPalette) FCanvas.SelectPalette(old, true);
    FPng.reset();
    Progress(1, 1, 100);
}

void TPngPicture::FillWithBlack() {
    const unsigned entries = 1u << BitCount();
    unsigned best = 0, bestSum = 3 * 255 + 1;
    for (unsigned i = 0; i < entries; ++i) {
        const RGBQUAD& c = FInfo->Colors()[i];
        const unsigned sum = unsigned{c.rgbRed} + c.rgbGreen + c.rgbBlue;
        if (sum < bestSum) {
            best = i;
            bestSum = sum;
        }
    }
    // The index repeated over a whole byte: 8 pixels of 1 bit, 2 of 4 bits, 1 of 8 bits.
    const std::uint8_t pattern = static_cast<std::uint8_t>(BitCount() == 1   ? (best ? 0xFF : 0)
                                                           : BitCount() == 4 ? best * 0x11
                                                                             : best);
    std::memset(FBits, pattern, static_cast<std::size_t>(ImageSize()));
}

void TPngPicture::ReadFileHeader(TStream&) {}

void TPngPicture::WriteFileHeader(TStream&) {}

void TPngPicture::WriteData(TStream&, bool) {
    // Nothing in the program saves a picture as PNG; the decoder has no encoder.
    throw EPixError(SPngSaveNotSupported);
}

}  // namespace pix
