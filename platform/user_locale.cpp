// SPDX-License-Identifier: MIT
#include "platform/user_locale.h"

#include "platform/file_system.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace pix {
namespace {

struct TLanguage {
    std::string_view Code;  // ISO 639-1
    int Primary;
};

// The languages with their primary identifiers.
constexpr TLanguage kLanguages[] = {
    {"af", 0x36}, {"ar", 0x01}, {"az", 0x2C}, {"be", 0x23}, {"bg", 0x02}, {"bn", 0x45},
    {"ca", 0x03}, {"cs", 0x05}, {"da", 0x06}, {"de", 0x07}, {"el", 0x08}, {"en", 0x09},
    {"es", 0x0A}, {"et", 0x25}, {"eu", 0x2D}, {"fa", 0x29}, {"fi", 0x0B}, {"fo", 0x38},
    {"fr", 0x0C}, {"gl", 0x56}, {"gu", 0x47}, {"he", 0x0D}, {"hi", 0x39}, {"hr", 0x1A},
    {"hu", 0x0E}, {"hy", 0x2B}, {"id", 0x21}, {"is", 0x0F}, {"it", 0x10}, {"ja", 0x11},
    {"ka", 0x37}, {"kk", 0x3F}, {"kn", 0x4B}, {"ko", 0x12}, {"lt", 0x27}, {"lv", 0x26},
    {"mk", 0x2F}, {"mr", 0x4E}, {"ms", 0x3E}, {"nb", 0x14}, {"nl", 0x13}, {"nn", 0x14},
    {"no", 0x14}, {"pa", 0x46}, {"pl", 0x15}, {"pt", 0x16}, {"ro", 0x18}, {"ru", 0x19},
    {"sk", 0x1B}, {"sl", 0x24}, {"sq", 0x1C}, {"sr", 0x1A}, {"sv", 0x1D}, {"sw", 0x41},
    {"ta", 0x49}, {"te", 0x4A}, {"th", 0x1E}, {"tr", 0x1F}, {"tt", 0x44}, {"uk", 0x22},
    {"ur", 0x20}, {"uz", 0x43}, {"vi", 0x2A}, {"zh", 0x04},
};

struct TCountry {
    std::string_view Language;
    std::string_view Country;  // ISO 3166-1; empty: the language without a country
    int Sub;
};

// Sublanguages other than 1 (the default), and the few that differ by language alone.
constexpr TCountry kCountries[] = {
    {"de", "CH", 2},  {"de", "AT", 3},  {"de", "LU", 4},  {"de", "LI", 5},  {"en", "GB", 2},
    {"en", "AU", 3},  {"en", "CA", 4},  {"en", "NZ", 5},  {"en", "IE", 6},  {"en", "ZA", 7},
    {"en", "JM", 8},  {"en", "BZ", 10}, {"en", "TT", 11}, {"en", "ZW", 12}, {"en", "PH", 13},
    {"en", "IN", 16}, {"en", "MY", 17}, {"en", "SG", 18}, {"es", "MX", 2},  {"es", "ES", 3},
    {"es", "GT", 4},  {"es", "CR", 5},  {"es", "PA", 6},  {"es", "DO", 7},  {"es", "VE", 8},
    {"es", "CO", 9},  {"es", "PE", 10}, {"es", "AR", 11}, {"es", "EC", 12}, {"es", "CL", 13},
    {"es", "UY", 14}, {"es", "PY", 15}, {"es", "BO", 16}, {"es", "SV", 17}, {"es", "HN", 18},
    {"es", "NI", 19}, {"es", "PR", 20}, {"es", "US", 21}, {"fr", "BE", 2},  {"fr", "CA", 3},
    {"fr", "CH", 4},  {"fr", "LU", 5},  {"fr", "MC", 6},  {"it", "CH", 2},  {"nl", "BE", 2},
    {"pt", "PT", 2},  {"sv", "FI", 2},  {"zh", "CN", 2},  {"zh", "HK", 3},  {"zh", "SG", 4},
    {"zh", "MO", 5},  {"nn", "", 2},    {"sr", "", 2},    {"sr", "RS", 3},  {"sr", "ME", 3},
    {"hr", "BA", 4},
};

// A locale name's language and country: "de_DE.UTF-8@euro" gives "de" and "DE".
void SplitName(std::string_view name, std::string_view& language, std::string_view& country) {
    const std::size_t end = name.find_first_of(".@");
    if (end != std::string_view::npos) name = name.substr(0, end);
    const std::size_t underscore = name.find('_');
    language = name.substr(0, underscore);
    country =
        underscore == std::string_view::npos ? std::string_view() : name.substr(underscore + 1);
}

std::string Lower(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return result;
}

// LANG="..." in a file of shell assignments, without the quotes; empty when there is none.
std::string LangOfFile(const char* fileName) {
    std::ifstream file(fileName);
    std::string line;
    while (std::getline(file, line)) {
        if (!line.starts_with("LANG=")) continue;
        std::string value = line.substr(5);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return {};
}

}  // namespace

TLocaleId LocaleOfName(std::string_view name) {
    std::string_view languagePart, countryPart;
    SplitName(name, languagePart, countryPart);
    const std::string language = Lower(languagePart);
    const std::string country = UpperCaseAscii(countryPart);
    TLocaleId id;
    for (const TLanguage& entry : kLanguages)
        if (entry.Code == language) id = {entry.Primary, 1};
    if (id.Primary == 0) return {};
    for (const TCountry& entry : kCountries)
        if (entry.Language == language && (entry.Country.empty() || entry.Country == country))
            id.Sub = entry.Sub;
    return id;
}

TLocaleId UserDefaultLocale() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return LocaleOfName(value);
    }
    return {};
}

TLocaleId SystemDefaultLocale() {
    for (const char* fileName : {"/etc/default/locale", "/etc/locale.conf"}) {
        const std::string lang = LangOfFile(fileName);
        if (!lang.empty()) return LocaleOfName(lang);
    }
    return {};
}

}  // namespace pix
