// SPDX-License-Identifier: MIT
// The 8-bit code pages of texts inside image files, and their conversion to Unicode.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pix {

// Windows-1252 bytes to UTF-8. The five bytes that code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become U+0081 etc., as Windows' own conversion does.
std::string Cp1252ToUtf8(std::string_view text);

// UTF-16 little-endian (the texts of version blocks) to UTF-8, up to the first null
// character or the end; a surrogate without its partner becomes U+FFFD.
std::string Utf16LeToUtf8(std::span<const std::uint8_t> text);

// UTF-8 to Windows-1252; characters the code page lacks (and malformed UTF-8) become '?'.
std::string Utf8ToCp1252(std::string_view text);

// OEM code page 437 or 850 bytes to Windows-1252; characters without an equivalent
// become '?'. Any other code page number is taken as 437.
std::string OemToAnsi(std::string_view text, int oemCodePage = 437);

}  // namespace pix
