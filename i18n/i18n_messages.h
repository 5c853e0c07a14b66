// SPDX-License-Identifier: MIT
// Message texts of the run-time translation: the dictionary reader. Formats fill them with
// Fmt().
#pragma once

namespace pix {

// Dictionary streams.
inline constexpr const char* SInvalidIvdStream = "The stream is not a valid IVD stream";
inline constexpr const char* SInvalidLanguageOffset = "Invalid language offset";
inline constexpr const char* SInvalidTranslationOffset = "Invalid translation offset";
inline constexpr const char* SNoCustomLocales = "No custom locales";
inline constexpr const char* SInvalidLocaleOffset = "Invalid locale offset";
// A language or locale index outside the dictionary's records.
inline constexpr const char* SDictIndexOutOfBounds = "List index out of bounds (%d)";

}  // namespace pix
