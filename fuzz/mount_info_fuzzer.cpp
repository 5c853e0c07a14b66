// SPDX-License-Identifier: MIT
// Mount tables as the folder namespace reads them: every entry, and whether it is a volume.
#include "platform/shell_folder.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {
// Written so the compiler cannot drop the results.
volatile std::uint64_t GSink = 0;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const pix::TMountEntry& entry : pix::ParseMountInfo(text)) {
        GSink = GSink + entry.MountPoint.size() + entry.Source.size() + entry.FsType.size();
        if (pix::IsBrowsableVolume(entry, "/home/user")) GSink = GSink + 1;
    }
    return 0;
}
