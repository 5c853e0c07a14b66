// SPDX-License-Identifier: MIT
// Message texts of the TIFF reader and writer.
#pragma once

namespace pix {

inline constexpr const char* SInvalidTiffIdentifier = "Invalid TIFF identifier";
inline constexpr const char* SMissingIfdEntry = "Missing IFD entry";
inline constexpr const char* SMissingImageWidth = "Missing ImageWidth tag";
inline constexpr const char* SMissingImageHeight = "Missing ImageHeight tag";
inline constexpr const char* SCcittNotSupported = "CCITT compression is not supported";
inline constexpr const char* SFax3NotSupported = "FAX3 compression is not supported";
inline constexpr const char* SFax4NotSupported = "FAX4 compression is not supported";
inline constexpr const char* SJpegCompressionNotSupported = "JPEG compression is not supported";
inline constexpr const char* SPackbitsNotSupported = "PACKBITS compression is not supported";
inline constexpr const char* SUnknownCompression = "Unknown compression format";
inline constexpr const char* SFillOrderNotSupported = "This fillorder mode is not supported";
inline constexpr const char* SPlanarNotSupported = "Separated color planes are not supported";
inline constexpr const char* SExtraSamplesNotSupported = "Extra samples are not supported";
inline constexpr const char* STiledNotSupported = "Tiled images are not supported";
inline constexpr const char* SMissingStripOffsets = "Missing StripOffsets tag";
inline constexpr const char* SMissingStripByteCounts = "Missing StripByteCounts tag";
inline constexpr const char* SInvalidStripData = "Invalid strip data";
inline constexpr const char* STransparencyMaskNotSupported =
    "Transparence mask format is not supported";
inline constexpr const char* SCmykNotSupported = "CMYK format is not supported";
inline constexpr const char* SYCbCrNotSupported = "YCbCr format is not supported";
inline constexpr const char* SCieLabNotSupported = "CIE L*a*b* is not supported";
inline constexpr const char* SMissingBitsPerSample = "Missing BitsPerSample tag";
inline constexpr const char* SLzw16NotSupported =
    "LZW compression is not supported for 16 bit samples";
inline constexpr const char* STiffFormatNotSupported = "This TIFF format is not supported";
inline constexpr const char* SInvalidColorInformation = "Invalid color information found";
inline constexpr const char* SMissingColorMap = "Missing ColorMap tag";
inline constexpr const char* SRgbSamplesPerPixel =
    "Only 3 samples per pixel for RGB images are supported";
inline constexpr const char* SRgbBitsPerSample =
    "Only 8 bits per sample for RGB images are supported";
inline constexpr const char* SInvalidStripOffsets = "Invalid StripOffsets tag";
inline constexpr const char* SInvalidStripByteCounts = "Invalid StripByteCounts tag";
inline constexpr const char* SInvalidLzwCode = "Invalid LZW code found";
// Refusals and bounds of the reader beyond the checks above.
inline constexpr const char* SPhotometricNotSupported =
    "This photometric interpretation is not supported";
inline constexpr const char* SPalette16NotSupported =
    "Palette images with 16 bits per sample are not supported";
inline constexpr const char* SSampleFormatNotSupported =
    "Only unsigned integer samples are supported";
inline constexpr const char* SStripOutsideFile = "Strip data lies outside the file";
inline constexpr const char* SStripDataMissing = "Strip data is missing from the file";

}  // namespace pix
