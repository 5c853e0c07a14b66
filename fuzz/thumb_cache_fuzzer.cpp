// Thumbnail cache files: the header, the directory walked entry by entry, and the record
// of each entry with its thumbnail bitmap, both as the file read whole and as the file kept
// open with the thumbnails read when asked for (and once more after they were released).
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
    // The box is taken from the header itself, so the readers go past their box check.
    const int boxWidth = U16At(data, size, 6);
    const int boxHeight = U16At(data, size, 8);
    if (const auto cache = pix::TThumbCacheFile::Open(file.Path(), boxWidth, boxHeight)) {
        try {
            pix::TThumbCacheEntry entry;
            for (int i = 0; i < kMaxEntries && cache->NextEntry(entry); ++i) {
                pix::TThumbInfo info;
                try {
                    cache->ReadRecord(entry.Offset, info);
                } catch (const pix::EPixError&) {
                    continue;
                }
                for (int pass = 0; pass < 2; ++pass) {
                    if (const pix::TBmpPicture* picture = info.Thumbnail.get())
                        pix::fuzz::SumPixels(*picture);
                    info.Thumbnail.Release();
                }
            }
        } catch (const pix::EPixError&) {
        }
    }
    pix::TThumbCacheReader reader;
    if (!reader.Open(file.Path(), boxWidth, boxHeight)) return 0;
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
