// SPDX-License-Identifier: MIT
// Message texts of the PNG decoder. The texts are kept exactly as users and translators
// know them, spelling included.
#pragma once

namespace pix {

inline constexpr const char* SPngInvalidFileHeader =
    "The file being readed is not a valid \"Portable Network Graphics\" image because it "
    "contains an invalid header. This file may be corruped, try obtaining it again.";
inline constexpr const char* SPngUnexpectedEnd =
    "This \"Portable Network Graphics\" image is invalid because the decoder found an "
    "unexpected end of the file.";
inline constexpr const char* SPngIHDRNotFirst =
    "This \"Portable Network Graphics\" image is not supported or it might be invalid.\n"
    "(IHDR chunk is not the first)";
inline constexpr const char* SPngUnknownCriticalChunk =
    "This \"Portable Network Graphics\" image contains an unknown critical part which could "
    "not be decoded.";
inline constexpr const char* SPngInvalidCRC =
    "This \"Portable Network Graphics\" image is not valid because it contains invalid pieces "
    "of data (crc error)";
inline constexpr const char* SPngInvalidIHDR =
    "The \"Portable Network Graphics\" image could not be loaded because one of its main piece "
    "of data (ihdr) might be corrupted";
inline constexpr const char* SPngSizeExceeds =
    "This \"Portable Network Graphics\" image is not supported because either it's width or "
    "height exceeds the maximum size, which is 65535 pixels length.";
inline constexpr const char* SPngUnknownCompression =
    "This \"Portable Network Graphics\" image is encoded with an unknown compression scheme "
    "which could not be decoded.";
inline constexpr const char* SPngUnknownInterlace =
    "This \"Portable Network Graphics\" image uses an unknown interlace scheme which could not "
    "be decoded.";
inline constexpr const char* SPngInvalidPalette =
    "The \"Portable Network Graphics\" image contains an invalid palette.";
inline constexpr const char* SPngMissingMultipleIDAT =
    "This \"Portable Network Graphics\" image is invalid because it has missing image parts.";
inline constexpr const char* SPngZLIBError =
    "Could not decompress the image because it contains invalid compressed data.";
inline constexpr const char* SPngZLIBDescription = "\n Description: ";
inline constexpr const char* SPngNoImageData =
    "This \"Portable Network Graphics\" image contains no data.";
inline constexpr const char* SPngOutMemory =
    "Some operation could not be performed because the system is out of resources. Close some "
    "windows and try again.";
inline constexpr const char* SPngNoSuchPaletteEntry = "There is no such palette entry.";
// Colour type and bit depth pairs that no PNG may use; filled with both numbers.
inline constexpr const char* SPngInvalidColorFormat =
    "This \"Portable Network Graphics\" image has an invalid combination of colour type %u "
    "and bit depth %u.";
// The decoder has no encoder: nothing in the program saves a picture as PNG.
inline constexpr const char* SPngSaveNotSupported = "Saving pictures as PNG is not supported";

}  // namespace pix
