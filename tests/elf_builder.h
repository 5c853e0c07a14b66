// SPDX-License-Identifier: MIT
// Builds the smallest ELF file that carries one named section, for the version-block tests:
// the header, the section's bytes, the section-name table and three section headers (the
// null one, the section, the name table), in either class and byte order.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pix::test {

inline std::string ElfWithSection(std::string_view name, std::span<const std::uint8_t> data,
                                  bool is64 = true, bool bigEndian = false) {
    std::string file;
    auto put = [&](std::size_t at, std::uint64_t value, std::size_t size) {
        if (file.size() < at + size) file.resize(at + size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            file[at + (bigEndian ? size - 1 - i : i)] = static_cast<char>(value >> (8 * i));
    };
    const std::size_t word = is64 ? 8 : 4;
    const std::size_t entry = is64 ? 64 : 40;
    const std::size_t dataAt = 64;
    const std::size_t namesAt = dataAt + data.size();
    const std::string names = std::string(1, '\0') + std::string(name) + '\0' + ".shstrtab" + '\0';
    const std::size_t tableAt = (namesAt + names.size() + 7) / 8 * 8;

    file = "\177ELF";
    put(4, is64 ? 2 : 1, 1);
    put(5, bigEndian ? 2 : 1, 1);
    put(6, 1, 1);                                  // EI_VERSION
    put(16, 2, 2);                                 // ET_EXEC
    put(20, 1, 4);                                 // e_version
    put(16 + 8 + 2 * word, tableAt, word);         // e_shoff
    const std::size_t sizes = 16 + 12 + 3 * word;  // e_ehsize and what follows it
    put(sizes, is64 ? 64 : 52, 2);
    put(sizes + 6, entry, 2);  // e_shentsize
    put(sizes + 8, 3, 2);      // e_shnum
    put(sizes + 10, 2, 2);     // e_shstrndx
    file.resize(dataAt, '\0');
    file.append(reinterpret_cast<const char*>(data.data()), data.size());
    file += names;

    // sh_name, sh_type; then sh_offset and sh_size after sh_flags and sh_addr.
    auto section = [&](std::size_t index, std::uint32_t nameAt, std::uint32_t type,
                       std::size_t offset, std::size_t size) {
        const std::size_t at = tableAt + index * entry;
        put(at + entry - 1, 0, 1);
        put(at, nameAt, 4);
        put(at + 4, type, 4);
        put(at + 8 + 2 * word, offset, word);
        put(at + 8 + 3 * word, size, word);
    };
    section(0, 0, 0, 0, 0);
    section(1, 1, 1, dataAt, data.size());  // SHT_PROGBITS; then SHT_STRTAB
    section(2, static_cast<std::uint32_t>(name.size() + 2), 3, namesAt, names.size());
    return file;
}

}  // namespace pix::test
