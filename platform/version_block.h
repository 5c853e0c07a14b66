// SPDX-License-Identifier: MIT
// Writes a version block: the VS_VERSIONINFO structure that GetFileVersionInfoA reads back.
//
// The writer runs at compile time for the block each program carries (a source generated
// by the build, see platform/version_resource.cpp.in) and at run time for the tests.
#pragma once

#include "platform/version_info.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace pix {

struct TVersionString {
    std::string_view Name;
    std::string_view Value;  // UTF-8
};

struct TVersionDefinition {
    std::array<std::uint16_t, 4> FileVersion{};
    std::array<std::uint16_t, 4> ProductVersion{};
    std::uint32_t FileFlags = 0;
    std::uint32_t FileType = VFT_APP;
    // The one string table's language and code page, which the translation table names.
    std::uint16_t Language = 0x0409;
    std::uint16_t CodePage = 1252;
    // Without it the block has strings but no "\VarFileInfo\Translation" to find them by.
    bool WriteTranslation = true;
    std::span<const TVersionString> Strings;
};

namespace version_block_detail {

class TWriter {
public:
    constexpr void U16(std::uint16_t v) {
        FBytes.push_back(static_cast<std::uint8_t>(v));
        FBytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    constexpr void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    constexpr void Pad() {
        while (FBytes.size() % 4 != 0) FBytes.push_back(0);
    }
    // UTF-8 to UTF-16 units, with a terminator; returns the count of units written.
    constexpr std::uint16_t Text(std::string_view utf8) {
        std::size_t units = 0;
        for (std::size_t i = 0; i < utf8.size();) {
            const auto lead = static_cast<unsigned char>(utf8[i]);
            const std::size_t extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
            char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
            for (std::size_t k = 1; k <= extra && i + k < utf8.size(); ++k)
                c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
            i += extra + 1;
            if (c >= 0x10000) {
                U16(static_cast<std::uint16_t>(0xD800 + ((c - 0x10000) >> 10)));
                U16(static_cast<std::uint16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
                units += 2;
            } else {
                U16(static_cast<std::uint16_t>(c));
                ++units;
            }
        }
        U16(0);
        return static_cast<std::uint16_t>(units + 1);
    }
    // A node's header and key; its length is filled in by End.
    constexpr std::size_t Begin(std::string_view key, std::uint16_t valueLength,
                                std::uint16_t type) {
        Pad();
        const std::size_t start = FBytes.size();
        U16(0);
        U16(valueLength);
        U16(type);
        Text(key);
        Pad();
        return start;
    }
    constexpr void Patch16(std::size_t at, std::uint16_t v) {
        FBytes[at] = static_cast<std::uint8_t>(v);
        FBytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    constexpr void End(std::size_t start) {
        Patch16(start, static_cast<std::uint16_t>(FBytes.size() - start));
    }
    constexpr std::size_t Size() const { return FBytes.size(); }
    constexpr std::vector<std::uint8_t> Take() { return std::move(FBytes); }

private:
    std::vector<std::uint8_t> FBytes;
};

constexpr std::uint32_t High(const std::array<std::uint16_t, 4>& v) {
    return (std::uint32_t{v[0]} << 16) | v[1];
}
constexpr std::uint32_t Low(const std::array<std::uint16_t, 4>& v) {
    return (std::uint32_t{v[2]} << 16) | v[3];
}

constexpr char HexDigit(unsigned v) { return "0123456789ABCDEF"[v & 15]; }

}  // namespace version_block_detail

// The block, laid out as Windows' resource compiler lays it out: the root with the fixed
// information, "StringFileInfo" with one string table (key: language and code page as eight
// upper-case hexadecimal digits), and "VarFileInfo" with the translation.
constexpr std::vector<std::uint8_t> WriteVersionBlock(const TVersionDefinition& definition) {
    using namespace version_block_detail;
    TWriter w;
    const std::size_t root = w.Begin(kVersionInfoKey, kFixedFileInfoSize, 0);
    for (std::uint32_t word : {VS_FFI_SIGNATURE, VS_FFI_STRUCVERSION, High(definition.FileVersion),
                               Low(definition.FileVersion), High(definition.ProductVersion),
                               Low(definition.ProductVersion), VS_FFI_FILEFLAGSMASK,
                               definition.FileFlags, VOS_UNKNOWN, definition.FileType, 0u, 0u, 0u})
        w.U32(word);

    const std::size_t stringInfo = w.Begin("StringFileInfo", 0, 1);
    const char table[8] = {
        HexDigit(definition.Language >> 12u), HexDigit(definition.Language >> 8u),
        HexDigit(definition.Language >> 4u),  HexDigit(definition.Language),
        HexDigit(definition.CodePage >> 12u), HexDigit(definition.CodePage >> 8u),
        HexDigit(definition.CodePage >> 4u),  HexDigit(definition.CodePage)};
    const std::size_t tableStart = w.Begin(std::string_view(table, 8), 0, 1);
    for (const TVersionString& s : definition.Strings) {
        const std::size_t start = w.Begin(s.Name, 0, 1);
        // wValueLength counts the text's UTF-16 units with the terminator.
        w.Patch16(start + 2, w.Text(s.Value));
        w.End(start);
    }
    w.End(tableStart);
    w.End(stringInfo);

    if (definition.WriteTranslation) {
        const std::size_t varInfo = w.Begin("VarFileInfo", 0, 1);
        const std::size_t var = w.Begin("Translation", 4, 0);
        w.U16(definition.Language);
        w.U16(definition.CodePage);
        w.End(var);
        w.End(varInfo);
    }
    w.End(root);
    return w.Take();
}

// The block as an array for a constant in the program: N is WriteVersionBlock(d).size().
template <std::size_t N>
constexpr std::array<std::uint8_t, N> VersionBlockArray(const TVersionDefinition& definition) {
    const std::vector<std::uint8_t> bytes = WriteVersionBlock(definition);
    std::array<std::uint8_t, N> block{};
    for (std::size_t i = 0; i < N && i < bytes.size(); ++i) block[i] = bytes[i];
    return block;
}

}  // namespace pix
