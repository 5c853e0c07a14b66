// SPDX-License-Identifier: MIT
#include "platform/version_info.h"

#include "platform/byte_order.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/file_io.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <vector>

namespace pix {
namespace {

// The ELF header fields the section search needs, for both classes and byte orders.
struct TElfLayout {
    std::size_t HeaderSize;  // Elf32_Ehdr or Elf64_Ehdr
    std::size_t ShOffAt;     // e_shoff
    std::size_t ShEntSizeAt;
    std::size_t SectionHeaderSize;
    std::size_t ShOffsetAt;  // sh_offset inside a section header
    std::size_t ShSizeAt;
    std::size_t WordSize;  // of addresses, offsets and sizes
};
constexpr TElfLayout kElf32{52, 0x20, 0x2E, 40, 16, 20, 4};
constexpr TElfLayout kElf64{64, 0x28, 0x3A, 64, 24, 32, 8};
constexpr std::uint32_t kShtNoBits = 8;

// A node's header: wLength, wValueLength, wType.
constexpr std::size_t kNodeHeaderSize = 6;
// The root holds its header, its key and at least its terminator.
constexpr std::size_t kMinRootSize = kNodeHeaderSize + 2 * (kVersionInfoKey.size() + 1);

class TElfReader {
public:
    TElfReader(const std::uint8_t* bytes, bool bigEndian) : FBytes(bytes), FBigEndian(bigEndian) {}
    std::uint16_t U16(std::size_t at) const {
        return FBigEndian ? LoadBE16(FBytes + at) : LoadLE16(FBytes + at);
    }
    std::uint32_t U32(std::size_t at) const {
        return FBigEndian ? LoadBE32(FBytes + at) : LoadLE32(FBytes + at);
    }
    std::uint64_t Word(std::size_t at, std::size_t size) const {
        if (size == 4) return U32(at);
        const std::uint64_t high = U32(at + (FBigEndian ? 0 : 4));
        const std::uint64_t low = U32(at + (FBigEndian ? 4 : 0));
        return (high << 32) | low;
    }

private:
    const std::uint8_t* FBytes;
    bool FBigEndian;
};

bool ReadExactly(const TReadFile& file, std::uint64_t offset, std::vector<std::uint8_t>& bytes) {
    if (offset > static_cast<std::uint64_t>(file.Size())) return false;
    return file.ReadAt(static_cast<std::int64_t>(offset), bytes.data(), bytes.size()) ==
           bytes.size();
}

// The bytes of the section named `name`, at most `limit` of them; nothing when the file is
// no ELF file or has no such section with contents in the file. Every offset and size is
// taken from the file and checked against its size before it is used.
std::optional<std::vector<std::uint8_t>> ReadElfSection(const TReadFile& file,
                                                        std::string_view name, std::size_t limit) {
    // Any ELF file with a section table is longer than the larger of the two headers.
    std::vector<std::uint8_t> ident(kElf64.HeaderSize);
    if (!ReadExactly(file, 0, ident)) return std::nullopt;
    if (ident[0] != 0x7F || ident[1] != 'E' || ident[2] != 'L' || ident[3] != 'F')
        return std::nullopt;
    const TElfLayout* layout = ident[4] == 1 ? &kElf32 : ident[4] == 2 ? &kElf64 : nullptr;
    if (layout == nullptr || (ident[5] != 1 && ident[5] != 2)) return std::nullopt;
    const TElfReader header(ident.data(), ident[5] == 2);
    const std::uint64_t shOff = header.Word(layout->ShOffAt, layout->WordSize);
    const std::uint16_t shEntSize = header.U16(layout->ShEntSizeAt);
    const std::uint16_t shNum = header.U16(layout->ShEntSizeAt + 2);
    const std::uint16_t shStrIndex = header.U16(layout->ShEntSizeAt + 4);
    // A count of 0 with the real one elsewhere only serves files of 65280 sections and more.
    if (shOff == 0 || shEntSize != layout->SectionHeaderSize || shNum == 0 || shStrIndex >= shNum)
        return std::nullopt;

    std::vector<std::uint8_t> table(std::size_t{shNum} * shEntSize);
    if (!ReadExactly(file, shOff, table)) return std::nullopt;
    const TElfReader sections(table.data(), ident[5] == 2);
    const auto fileSize = static_cast<std::uint64_t>(file.Size());
    struct TPlace {
        std::uint64_t Offset, Size;
    };
    auto place = [&](std::size_t index) -> std::optional<TPlace> {
        const std::size_t at = index * shEntSize;
        if (sections.U32(at + 4) == kShtNoBits) return std::nullopt;
        const std::uint64_t offset = sections.Word(at + layout->ShOffsetAt, layout->WordSize);
        const std::uint64_t size = sections.Word(at + layout->ShSizeAt, layout->WordSize);
        if (offset > fileSize || size > fileSize - offset) return std::nullopt;
        return TPlace{offset, size};
    };

    const std::optional<TPlace> names = place(shStrIndex);
    if (!names) return std::nullopt;
    std::vector<std::uint8_t> wanted(name.size() + 1);
    for (std::size_t i = 0; i < shNum; ++i) {
        const std::uint32_t nameAt = sections.U32(i * shEntSize);
        if (nameAt >= names->Size || wanted.size() > names->Size - nameAt) continue;
        if (!ReadExactly(file, names->Offset + nameAt, wanted)) continue;
        if (std::string_view(reinterpret_cast<const char*>(wanted.data()), name.size()) != name ||
            wanted.back() != 0)
            continue;
        const std::optional<TPlace> data = place(i);
        if (!data) return std::nullopt;
        std::vector<std::uint8_t> bytes(
            static_cast<std::size_t>(std::min<std::uint64_t>(data->Size, limit)));
        if (!ReadExactly(file, data->Offset, bytes)) return std::nullopt;
        return bytes;
    }
    return std::nullopt;
}

constexpr std::size_t Align4(std::size_t at) { return (at + 3) & ~std::size_t{3}; }

// One node of a version block: its extent, key, value and where its children begin. Lengths
// that reach past the parent's end make the node malformed.
struct TNode {
    std::size_t Start = 0;
    std::size_t End = 0;
    std::u16string Key;
    std::size_t ValueStart = 0;
    std::size_t ValueEnd = 0;
    std::size_t ChildrenStart = 0;
};

std::optional<TNode> ReadNode(std::span<const std::uint8_t> block, std::size_t at,
                              std::size_t limit) {
    if (at > limit || limit - at < kNodeHeaderSize) return std::nullopt;
    const std::uint16_t length = LoadLE16(&block[at]);
    const std::uint16_t valueLength = LoadLE16(&block[at + 2]);
    const std::uint16_t type = LoadLE16(&block[at + 4]);
    if (length < kNodeHeaderSize || length > limit - at) return std::nullopt;
    TNode node;
    node.Start = at;
    node.End = at + length;
    std::size_t p = at + kNodeHeaderSize;
    for (;; p += 2) {
        if (node.End - p < 2) return std::nullopt;  // no terminator inside the node
        const std::uint16_t unit = LoadLE16(&block[p]);
        if (unit == 0) break;
        node.Key.push_back(static_cast<char16_t>(unit));
    }
    // Text values count UTF-16 units, binary ones bytes. Some writers count a text in bytes,
    // so a value is cut at the node's end rather than refused.
    node.ValueStart = std::min(Align4(p + 2), node.End);
    const std::size_t valueBytes = type == 1 ? std::size_t{valueLength} * 2 : valueLength;
    node.ValueEnd = node.ValueStart + std::min(valueBytes, node.End - node.ValueStart);
    node.ChildrenStart = std::min(Align4(node.ValueEnd), node.End);
    return node;
}

bool KeyIs(const std::u16string& key, std::string_view name) {
    if (key.size() != name.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        const char16_t a = key[i] >= u'A' && key[i] <= u'Z' ? key[i] - u'A' + u'a' : key[i];
        char b = name[i];
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != static_cast<unsigned char>(b)) return false;
    }
    return true;
}

std::optional<TNode> Root(std::span<const std::uint8_t> block) {
    std::optional<TNode> root = ReadNode(block, 0, block.size());
    if (!root || !KeyIs(root->Key, kVersionInfoKey)) return std::nullopt;
    return root;
}

std::optional<TNode> FindNode(std::span<const std::uint8_t> block, std::string_view path) {
    std::optional<TNode> node = Root(block);
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    while (node && !path.empty()) {
        const std::size_t cut = path.find('\\');
        const std::string_view name = path.substr(0, cut);
        path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
        if (name.empty()) return std::nullopt;
        std::optional<TNode> found;
        // Every child is at least a header long, so the walk always moves on.
        for (std::size_t at = node->ChildrenStart; at < node->End && !found;) {
            std::optional<TNode> child = ReadNode(block, at, node->End);
            if (!child) return std::nullopt;
            if (KeyIs(child->Key, name))
                found = std::move(child);
            else
                at = Align4(child->End);
        }
        node = std::move(found);
    }
    return node;
}

// The version block of a file, exactly as long as its root says, or nothing.
std::optional<std::vector<std::uint8_t>> ReadVersionBlock(const std::string& fileName) {
    try {
        const std::unique_ptr<TReadFile> file = TReadFile::Open(fileName);
        // The root's length is 16 bits, so no block is longer than 65535 bytes.
        std::optional<std::vector<std::uint8_t>> bytes =
            ReadElfSection(*file, kVersionSectionName, 0xFFFF);
        if (!bytes || bytes->size() < kMinRootSize) return std::nullopt;
        bytes->resize(LoadLE16(bytes->data()));
        if (!Root(*bytes)) return std::nullopt;
        return bytes;
    } catch (const std::exception&) {
        // A file that cannot be opened or read has no version block, as on Windows.
        return std::nullopt;
    }
}

}  // namespace

std::uint32_t GetFileVersionInfoSizeA(const std::string& fileName) {
    const std::optional<std::vector<std::uint8_t>> block = ReadVersionBlock(fileName);
    return block ? static_cast<std::uint32_t>(block->size()) : 0;
}

bool GetFileVersionInfoA(const std::string& fileName, std::span<std::uint8_t> data) {
    if (data.empty()) return false;
    const std::optional<std::vector<std::uint8_t>> block = ReadVersionBlock(fileName);
    if (!block) return false;
    std::copy_n(block->begin(), std::min(block->size(), data.size()), data.begin());
    return true;
}

bool VerQueryValueA(std::span<const std::uint8_t> block, std::string_view subBlock,
                    std::span<const std::uint8_t>& value) {
    const std::optional<TNode> node = FindNode(block, subBlock);
    if (!node) return false;
    value = block.subspan(node->ValueStart, node->ValueEnd - node->ValueStart);
    return true;
}

bool VerQueryValueA(std::span<const std::uint8_t> block, std::string_view subBlock,
                    std::string& text) {
    std::span<const std::uint8_t> value;
    if (!VerQueryValueA(block, subBlock, value)) return false;
    text = Utf16LeToUtf8(value);
    return true;
}

std::optional<TVSFixedFileInfo> FixedFileInfo(std::span<const std::uint8_t> block) {
    std::span<const std::uint8_t> value;
    if (!VerQueryValueA(block, "\\", value) || value.size() < kFixedFileInfoSize)
        return std::nullopt;
    std::uint32_t words[13];
    for (std::size_t i = 0; i < 13; ++i) words[i] = LoadLE32(&value[4 * i]);
    if (words[0] != VS_FFI_SIGNATURE) return std::nullopt;
    return TVSFixedFileInfo{words[0], words[1], words[2], words[3],  words[4],  words[5], words[6],
                            words[7], words[8], words[9], words[10], words[11], words[12]};
}

unsigned TVersionNumberInformation::Number(int index) const {
    const std::uint32_t word = index < 2 ? MostSignificant : LeastSignificant;
    return index % 2 == 0 ? word >> 16 : word & 0xFFFF;
}

std::string TVersionNumberInformation::Text() const {
    if (!Valid) return {};
    return Fmt("%u.%u.%u.%u", Number(0), Number(1), Number(2), Number(3));
}

std::string VersionLine(const std::string& fileName) {
    const std::optional<std::vector<std::uint8_t>> block = ReadVersionBlock(fileName);
    if (!block) return {};
    const std::optional<TVSFixedFileInfo> fixed = FixedFileInfo(*block);
    const std::string version =
        TVersionNumberInformation{fixed.has_value(), fixed ? fixed->dwFileVersionMS : 0,
                                  fixed ? fixed->dwFileVersionLS : 0}
            .Text();
    std::span<const std::uint8_t> translations;
    std::string product;
    if (VerQueryValueA(*block, "\\VarFileInfo\\Translation", translations) &&
        translations.size() >= 4) {
        char key[9];
        std::snprintf(key, sizeof key, "%.4x%.4x", LoadLE16(&translations[0]),
                      LoadLE16(&translations[2]));
        VerQueryValueA(*block, std::string("\\StringFileInfo\\") + key + "\\ProductName", product);
    }
    if (product.empty()) return version;
    return version.empty() ? product : product + " " + version;
}

}  // namespace pix
