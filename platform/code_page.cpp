// SPDX-License-Identifier: MIT
#include "platform/code_page.h"

#include <array>
#include <cstdint>
#include <utility>

namespace pix {

namespace {

// Unicode code points of Windows-1252 bytes 0x80 to 0x9F; the other high bytes are
// Latin-1 and equal their code points. The five unassigned bytes keep their own value.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

// Unicode code points of the high halves (0x80 to 0xFF) of the DOS code pages in which
// older acquisition stations wrote their texts.
constexpr std::uint16_t kOem437[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 0x88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 0x90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  // 0x98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 0xA0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // 0xA8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // 0xB0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // 0xB8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // 0xC8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // 0xD0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // 0xD8
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // 0xE0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // 0xE8
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // 0xF0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // 0xF8
};

constexpr std::uint16_t kOem850[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 0x88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 0x90
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,  // 0x98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 0xA0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // 0xA8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // 0xB0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,  // 0xB8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,  // 0xC8
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,  // 0xD0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,  // 0xD8
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,  // 0xE0
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,  // 0xE8
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // 0xF0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,  // 0xF8
};

std::uint32_t Cp1252ToCodePoint(std::uint8_t byte) {
    return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte;
}

// The Windows-1252 byte of a code point, or -1 when the code page lacks it.
int CodePointToCp1252(std::uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == cp) return 0x80 + i;
    return -1;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes one UTF-8 sequence at text[pos]; returns its length, or 0 when it is malformed
// (truncated, overlong, a surrogate or beyond U+10FFFF).
std::size_t DecodeUtf8(std::string_view text, std::size_t pos, std::uint32_t& cp) {
    const auto lead = static_cast<std::uint8_t>(text[pos]);
    std::size_t length;
    std::uint32_t minimum;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, cp = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, cp = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, cp = lead & 0x07u;
    } else {
        return 0;
    }
    if (length > text.size() - pos) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<std::uint8_t>(text[pos + i]);
        if ((next & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (next & 0x3Fu);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) AppendUtf8(out, Cp1252ToCodePoint(static_cast<std::uint8_t>(c)));
    return out;
}

std::string Utf16LeToUtf8(std::span<const std::uint8_t> text) {
    std::string out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        std::uint32_t cp = static_cast<std::uint32_t>(text[i] | text[i + 1] << 8);
        if (cp == 0) break;
        if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < text.size()) {
            const std::uint32_t low = static_cast<std::uint32_t>(text[i + 2] | text[i + 3] << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        // A surrogate without its partner is no character.
        AppendUtf8(out, cp >= 0xD800 && cp < 0xE000 ? 0xFFFD : cp);
    }
    return out;
}

std::string Utf8ToCp1252(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::uint32_t cp = 0;
        const std::size_t length = DecodeUtf8(text, pos, cp);
        if (length == 0) {
            // One '?' per byte that starts no valid sequence, then resynchronise.
            out += '?';
            ++pos;
            continue;
        }
        const int byte = CodePointToCp1252(cp);
        out += byte < 0 ? '?' : static_cast<char>(byte);
        pos += length;
    }
    return out;
}

std::string OemToAnsi(std::string_view text, int oemCodePage) {
    const std::uint16_t* table = oemCodePage == 850 ? kOem850 : kOem437;
    std::string out(text);
    for (char& c : out) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte < 0x80) continue;
        const int ansi = CodePointToCp1252(table[byte - 0x80]);
        c = ansi < 0 ? '?' : static_cast<char>(ansi);
    }
    return out;
}

namespace {

// The OEM byte of each Windows-1252 byte from 0x80 on: the inverse of the platform's OEM
// table. Characters the OEM page lacks become '?'.
std::array<char, 128> OemOfAnsi(int oemCodePage) {
    std::array<char, 128> oemOf;
    oemOf.fill('?');
    // Walk downwards so that the first OEM byte wins should two give one character.
    for (int oem = 0xFF; oem >= 0x80; --oem) {
        const std::string ansi = OemToAnsi(std::string(1, static_cast<char>(oem)), oemCodePage);
        const auto byte = static_cast<std::uint8_t>(ansi[0]);
        if (byte >= 0x80) oemOf[byte - 0x80] = static_cast<char>(oem);
    }
    return oemOf;
}

std::string AnsiToOem(std::string text, int oemCodePage) {
    static const std::array<char, 128> kOem437 = OemOfAnsi(437);
    static const std::array<char, 128> kOem850 = OemOfAnsi(850);
    const std::array<char, 128>& oemOf = oemCodePage == 850 ? kOem850 : kOem437;
    for (char& c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte >= 0x80) c = oemOf[byte - 0x80];
    }
    return text;
}

// Text of a code page without a table: its ASCII characters, '?' for the rest.
std::string AsciiOnly(std::string text) {
    for (char& c : text)
        if (static_cast<std::uint8_t>(c) >= 0x80) c = '?';
    return text;
}

}  // namespace

std::string AnsiToCodePage(std::string text, int codePage) {
    switch (codePage) {
        case 0:
        case 1252:
            return text;
        case 437:
        case 850:
            return AnsiToOem(std::move(text), codePage);
        default:
            return AsciiOnly(std::move(text));
    }
}

bool CodePageSupported(int codePage) {
    return codePage == 0 || codePage == 1252 || codePage == 437 || codePage == 850 ||
           codePage == 65001 || codePage == 20127;
}

std::string CodePageToUtf8(std::string_view text, int codePage) {
    switch (codePage) {
        case 0:
        case 1252:
            return Cp1252ToUtf8(text);
        case 437:
        case 850:
            return Cp1252ToUtf8(OemToAnsi(text, codePage));
        case 65001:
            return std::string(text);
        default:
            return AsciiOnly(std::string(text));
    }
}

}  // namespace pix
