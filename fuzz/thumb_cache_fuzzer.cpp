// Thumbnail cache files: the header, the directory walked entry by entry, and the record
// of each entry with its thumbnail bitmap.
#include "fuzz/fuzz_support.h"

#include "platform/error.h"
#include "thumbs/thumb_cache.h"
#include "thumbs/thumb_info.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

// A directory of a fuzzer's input can claim four billion entries; a few hundred show every
// path the walk has.
constexpr int kMaxEntries = 512;

std::uint16_t U16At(const std::uint8_t* data, std::size_t size, std::size_t at) {
    return at + 2 <= size ? static_cast<std::uint16_t>(data[at] | data[at + 1] << 8) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const pix::fuzz::TScratchFile file(bytes, ".dtdb");
    pix::TThumbCacheReader reader;
    // The box is taken from the header itself, so the reader goes past its box check.
    if (!reader.Open(file.Path(), U16At(data, size, 6), U16At(data, size, 8))) return 0;
    try {
        pix::TThumbCacheEntry entry;
        for (int i = 0; i < kMaxEntries && reader.NextEntry(entry); ++i) {
            pix::TThumbInfo info;
            try {
                reader.ReadRecord(entry.Offset, info);
            } catch (const pix::EPixError&) {
                continue;  // one bad record does not stop the walk, as in the grid
            }
            if (info.Thumbnail) pix::fuzz::SumPixels(*info.Thumbnail);
            pix::fuzz::GSink = pix::fuzz::GSink + info.Comment.size() + info.PointPositions.size();
        }
    } catch (const pix::EPixError&) {
    }
    return 0;
}
