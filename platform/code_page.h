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

// Windows-1252 text in another code page: unchanged for 1252 and 0 (the ANSI code page),
// through the inverse OEM tables for 437 and 850 (characters they lack become '?'); any
// other code page keeps ASCII and turns the rest into '?'.
std::string AnsiToCodePage(std::string text, int codePage);

// The code pages whose text the program converts: 0 and 1252, 437, 850, 20127 (US-ASCII)
// and 65001 (UTF-8).
bool CodePageSupported(int codePage);
// Text in a code page to UTF-8; UTF-8 stays as it is, and the bytes from 0x80 of a code
// page without a table become '?'.
std::string CodePageToUtf8(std::string_view text, int codePage);

}  // namespace pix
