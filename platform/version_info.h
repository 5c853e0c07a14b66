// SPDX-License-Identifier: MIT
// Version blocks of program files: reading them and querying their values.
//
// A program carries its version information as the Windows VS_VERSIONINFO structure
// (little-endian, UTF-16 keys and strings, every node aligned to 4 bytes from the block's
// start) in the ELF section ".vs_version_info", made at build time from the project's
// version (platform/version_block.h writes it). Any file can be asked; a file that is no
// ELF file, or has no such section, has no version block.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pix {

inline constexpr std::string_view kVersionSectionName = ".vs_version_info";
inline constexpr std::string_view kVersionInfoKey = "VS_VERSION_INFO";

// The fixed information's signature and structure version.
inline constexpr std::uint32_t VS_FFI_SIGNATURE = 0xFEEF04BD;
inline constexpr std::uint32_t VS_FFI_STRUCVERSION = 0x00010000;
inline constexpr std::uint32_t VS_FFI_FILEFLAGSMASK = 0x0000003F;
// File flags.
inline constexpr std::uint32_t VS_FF_DEBUG = 0x01;
inline constexpr std::uint32_t VS_FF_PRERELEASE = 0x02;
inline constexpr std::uint32_t VS_FF_PATCHED = 0x04;
inline constexpr std::uint32_t VS_FF_PRIVATEBUILD = 0x08;
inline constexpr std::uint32_t VS_FF_INFOINFERRED = 0x10;
inline constexpr std::uint32_t VS_FF_SPECIALBUILD = 0x20;
// The operating system a file was made for: none of Windows' values fits, so unknown.
inline constexpr std::uint32_t VOS_UNKNOWN = 0;
inline constexpr std::uint32_t VFT_APP = 1;

// VS_FIXEDFILEINFO: thirteen 32-bit words after the root key.
struct TVSFixedFileInfo {
    std::uint32_t dwSignature = 0;
    std::uint32_t dwStrucVersion = 0;
    std::uint32_t dwFileVersionMS = 0;
    std::uint32_t dwFileVersionLS = 0;
    std::uint32_t dwProductVersionMS = 0;
    std::uint32_t dwProductVersionLS = 0;
    std::uint32_t dwFileFlagsMask = 0;
    std::uint32_t dwFileFlags = 0;
    std::uint32_t dwFileOS = 0;
    std::uint32_t dwFileType = 0;
    std::uint32_t dwFileSubtype = 0;
    std::uint32_t dwFileDateMS = 0;
    std::uint32_t dwFileDateLS = 0;
};
inline constexpr std::size_t kFixedFileInfoSize = 13 * 4;

// The size of the file's version block in bytes; 0 when the file cannot be read, is no ELF
// file, has no version section, or the section holds no whole VS_VERSIONINFO root node.
std::uint32_t GetFileVersionInfoSizeA(const std::string& fileName);

// Copies the file's version block into `data`, as much of it as fits. False when the file
// has no version block (as for GetFileVersionInfoSizeA) or `data` is empty.
bool GetFileVersionInfoA(const std::string& fileName, std::span<std::uint8_t> data);

// The value of a sub-block of `block`: "\" for the fixed information,
// "\VarFileInfo\Translation" for the table of language and code-page pairs,
// "\StringFileInfo\040904e4\CompanyName" for a string. Keys are compared without regard to
// ASCII case. `value` is the value's bytes inside the block. False when there is no such
// sub-block; a malformed block (lengths past its end, keys without a terminator) has none.
bool VerQueryValueA(std::span<const std::uint8_t> block, std::string_view subBlock,
                    std::span<const std::uint8_t>& value);
// The same for a text value, converted from UTF-16 to the program's 8-bit encoding (UTF-8
// here) up to its first null character.
bool VerQueryValueA(std::span<const std::uint8_t> block, std::string_view subBlock,
                    std::string& text);

// The fixed information of a block, when its root value is one (size and signature).
std::optional<TVSFixedFileInfo> FixedFileInfo(std::span<const std::uint8_t> block);

// A version number: four 16-bit numbers in two 32-bit words, most significant first.
struct TVersionNumberInformation {
    bool Valid = false;
    std::uint32_t MostSignificant = 0;
    std::uint32_t LeastSignificant = 0;

    // The numbers from the most significant one on; 0 to 3.
    unsigned Number(int index) const;
    // "%d.%d.%d.%d" of the four numbers, or empty when not valid.
    std::string Text() const;
};

// What `--version` prints: the product name of the block's first translation and the file
// version text, "Pixorama 1.0.0.0"; only the version without a translation, and an empty
// text for a file without a version block.
std::string VersionLine(const std::string& fileName);

}  // namespace pix
