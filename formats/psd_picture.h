// SPDX-License-Identifier: MIT
// TPePsdPicture: the acquisition system's own 12-bit grey format (".psd", also ".tim"),
// read into an 8-bit picture with the fixed VEXA_PAL palette.
#pragma once

#include "imaging/dib_picture.h"
#include "platform/dib.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace pix {

// The fixed header in front of the samples, and its first two bytes (A5 5A).
inline constexpr std::size_t kPsdHeaderSize = 169;
inline constexpr std::uint16_t kPsdMagic = 0x5AA5;

// Grey value (the low 12 bits of a sample) to palette index.
using TPsdTranslation = std::array<std::uint8_t, 4096>;

// Spreads the window low..high over the `levels` palette entries from `base` on (indices
// taken modulo 256): values below the window show `base`, values above it the last entry.
// Levels below 1 count as 1. The scale factor is the one the acquisition system keeps,
// levels / (high - low + 1) rounded to 40 significant bits, so the steps fall exactly where
// its own display puts them. Throws EPixError(SInvalidPsdFormat) unless 0 <= low <= 4095
// and high >= low.
TPsdTranslation BuildPsdTranslation(int low, int high, int base, int levels);

// Palette index of an overlay code (the high 4 bits of a sample, 1 to 15).
std::uint8_t PsdOverlayIndex(unsigned code);

// The 256 colours of the "VEXA_PAL" resource, in colour-table order. Throws
// EPixError(SPsdPaletteNotFound) when the program carries no such resource of 1024 bytes.
const std::array<RGBQUAD, 256>& VexaPalette();

class TPePsdPicture : public TDibPicture {
public:
    TPePsdPicture() = default;

    std::int64_t ReadHeader(TStream& stream, std::unique_ptr<TDibInfo>& info) override;
    void ReadBits(TStream& stream) override;
    void ReadFileHeader(TStream& stream) override;
    // The format has no writer: saving gives an empty file.
    void WriteFileHeader(TStream& stream) override;
    void WriteData(TStream& stream, bool option) override;

    // With overlay mapping off, the overlay bits are ignored and every pixel shows its grey.
    bool OverlayMapping() const { return FOverlayMapping; }
    void SetOverlayMapping(bool on) { FOverlayMapping = on; }
    // The header record as ReadFileHeader last read it.
    std::span<const std::uint8_t, kPsdHeaderSize> HeaderRecord() const { return FHeader; }

private:
    std::array<std::uint8_t, kPsdHeaderSize> FHeader{};
    bool FOverlayMapping = true;
};

}  // namespace pix
