// SPDX-License-Identifier: MIT
// The user's locale as the language identifiers that dictionaries are keyed by: a primary
// language and a sublanguage, with the values of the Windows language identifiers.
#pragma once

#include <string>
#include <string_view>

namespace pix {

struct TLocaleId {
    int Primary = 0;  // LANG_*: 0 is the neutral language
    int Sub = 0;      // SUBLANG_*: 1 the language's default country
    bool operator==(const TLocaleId&) const = default;
};

// The identifiers of a locale name such as "de_DE.UTF-8", "fr_CH@euro" or "en": a language
// of the table with its country's sublanguage (1 for a country the table does not list),
// and the neutral locale for "C", "POSIX", an empty name and languages the table lacks.
TLocaleId LocaleOfName(std::string_view name);

// The locale whose messages the user reads: LC_ALL, else LC_MESSAGES, else LANG, the first
// that is set and not empty.
TLocaleId UserDefaultLocale();
// The system's locale: LANG of /etc/default/locale or /etc/locale.conf, else the neutral
// locale.
TLocaleId SystemDefaultLocale();

}  // namespace pix
