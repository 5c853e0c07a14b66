// SPDX-License-Identifier: MIT
#pragma once

#include "platform/res_string.h"

namespace pix {

inline constexpr TResString SNoDictionary{
    8100, "No dictionary has been assigned to the translator component (%s on \"%s\" form)"};
inline constexpr TResString SNoFileName{8101, "No FileName property set"};
inline constexpr TResString SNoSupportedLanguage{
    8102, "System does not support any language of the dicitonary!"};
inline constexpr TResString SLanguageIndexOutOfRange{8103, "Language index %d is out of range"};
inline constexpr TResString SUnknownTargetsVersion{8104,
                                                   "Unknown target properties data version: %d"};
inline constexpr TResString SLanguageNotSupportedBySystem{8105,
                                                          "%s is not supported by the system"};
inline constexpr TResString SLanguageNotSupportedByCodePage{8106,
                                                            "%s is not supported by the code page"};
inline constexpr TResString SLocaleNotSupportedBySystem{
    8107, "The locale (%d, %d) is not supported by the system"};
inline constexpr TResString SLocaleNotSupportedByCodePage{
    8108, "The locale (%d, %d) is not supported by the current code page"};
inline constexpr TResString SNoTranslation{
    8109, "Dictionary does not contain a translation for the word \"%s\""};
inline constexpr TResString SDictionaryNotFound{8110, "Dictionary \"%s\" not found"};

}  // namespace pix
