// SPDX-License-Identifier: MIT
// Message texts of the image model. Formats fill them with Fmt().
#pragma once

namespace pix {

// Picture model.
inline constexpr const char* SErrCreateDibMapping = "Error creating file mapping";
inline constexpr const char* SErrCreateDibSection = "Error creating DIB section";
inline constexpr const char* SInvalidDibPointer = "Invalid DIB pointer";
inline constexpr const char* SInvalidDibHandle = "Invalid DIB handle";
inline constexpr const char* SDibBitCountFormat = "%s (BitCount=%d)";
inline constexpr const char* SDibNotSupported = "DIB format is not supported";
inline constexpr const char* SNotEnoughMemory = "Not enough memory";
inline constexpr const char* SInvalidImageSize = "Invalid image size (%d x %d)";
inline constexpr const char* SImageTooLarge = "Image too large (%d x %d)";
inline constexpr const char* SPictureTooLarge =
    "Picture needs %llu MB, more than the limit of %llu MB";

// BMP.
inline constexpr const char* SInvalidBmpFormat = "Invalid BMP format";
inline constexpr const char* SBmpHeaderNotSupported = "BMP header of %u bytes is not supported";
inline constexpr const char* SBmpCompressionNotSupported = "BMP compression %u is not supported";
inline constexpr const char* SBmpBitCountNotSupported =
    "BMP with %u bits per pixel is not supported";
inline constexpr const char* SBmpInvalidBitfields = "Invalid BMP colour masks";
inline constexpr const char* SBmpInvalidRle = "Invalid BMP run-length data";
inline constexpr const char* SBmpTruncated = "BMP pixel data is incomplete";

// VEXA-PSD.
inline constexpr const char* SInvalidPsdFormat = "File is no valid VEXA-PSD format";
inline constexpr const char* SPsdPaletteNotFound = "Resource \"VEXA_PAL\" not found";

// JPEG: libjpeg's own message is appended.
inline constexpr const char* SJpegError = "JPEG error: %s";

// Format classes whose decoder is not part of this build.
inline constexpr const char* SFormatNotSupported = "%s images are not supported";

}  // namespace pix
