// Version blocks as the version reader asks them: the fixed information, the translation
// table, and every string of every translation the table names.
#include "platform/version_info.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace {
// Written so the compiler cannot drop the results.
volatile std::uint64_t GSink = 0;

void Strings(std::span<const std::uint8_t> block, const std::string& translation) {
    // Any name takes the same way through the block.
    for (const char* name : {"CompanyName", "FileVersion"}) {
        std::string text;
        if (pix::VerQueryValueA(block, "\\StringFileInfo\\" + translation + "\\" + name, text))
            GSink = GSink + text.size();
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> block(data, size);
    if (const auto fixed = pix::FixedFileInfo(block))
        GSink = GSink + fixed->dwFileVersionMS + fixed->dwFileFlags;
    std::span<const std::uint8_t> table;
    if (pix::VerQueryValueA(block, "\\VarFileInfo\\Translation", table)) {
        // At most a few: a block of 64 KiB could name thousands.
        for (std::size_t at = 0; at + 4 <= table.size() && at < 32; at += 4) {
            char key[9];
            std::snprintf(key, sizeof key, "%.4x%.4x", table[at] | table[at + 1] << 8,
                          table[at + 2] | table[at + 3] << 8);
            Strings(block, key);
        }
    }
    Strings(block, "");
    return 0;
}
