// SPDX-License-Identifier: MIT
// The entry of one image file: its thumbnail and what is known of the image.
#pragma once

#include "formats/bmp_picture.h"
#include "tiff/vexa_tags.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pix {

// Where thumbnails left in a file are read from when first needed (the cache file).
class TThumbSource {
public:
    virtual ~TThumbSource() = default;
    // The thumbnail stored as a BMP item whose data is `length` bytes at `offset`, or null
    // when it can no longer be read as it was stored. Never throws.
    virtual std::unique_ptr<TBmpPicture> ReadThumbnail(std::int64_t offset,
                                                       std::uint32_t length) const noexcept = 0;
};

// An entry's thumbnail: a bitmap in memory, or one still in its source, read when it is
// first asked for. It reads like a pointer to the bitmap; only a moved-from or reset one
// has nothing.
class TThumbnail {
public:
    TThumbnail() = default;
    TThumbnail(std::unique_ptr<TBmpPicture> picture) noexcept : FPicture(std::move(picture)) {}
    TThumbnail& operator=(std::unique_ptr<TBmpPicture> picture) noexcept;
    TThumbnail(TThumbnail&& other) noexcept;
    TThumbnail& operator=(TThumbnail&& other) noexcept;

    // Leaves the bitmap in `source`, to be read when first asked for.
    void Defer(std::shared_ptr<const TThumbSource> source, std::int64_t offset,
               std::uint32_t length);
    // True while there is a thumbnail, in memory or in its source; one that turns out
    // unreadable when read is dropped, and then this is false.
    explicit operator bool() const noexcept { return FPicture || FSource; }
    friend bool operator==(const TThumbnail& thumbnail, std::nullptr_t) noexcept {
        return !thumbnail;
    }
    // The bitmap, read from its source first if needed; null when there is none.
    TBmpPicture* get() const;
    // The bitmap; throws EPixError("Invalid thumbnail file") when it cannot be read.
    TBmpPicture& operator*() const;
    TBmpPicture* operator->() const { return &**this; }
    void reset() noexcept;
    // Whether the bitmap is in memory now.
    bool InMemory() const noexcept { return FPicture != nullptr; }
    // Whether it can be read again from its source after Release.
    bool Deferred() const noexcept { return FSource != nullptr; }
    // Frees the pixels of a thumbnail that its source still holds; they are read again when
    // next asked for. A thumbnail that exists only in memory stays.
    void Release() noexcept;

private:
    mutable std::unique_ptr<TBmpPicture> FPicture;
    mutable std::shared_ptr<const TThumbSource> FSource;
    std::int64_t FOffset = 0;
    std::uint32_t FLength = 0;
};

// Texts are 8-bit (Windows-1252) as the files store them. The empty state, all zero and
// empty without a thumbnail, means nothing is known. The acquisition members come from
// TAcquisitionInfo.
struct TThumbInfo : TAcquisitionInfo {
    TThumbnail Thumbnail;
    std::int32_t FileDate = 0;  // packed DOS date and time; -1 for a missing file
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t DataSize = 0;
    std::int32_t BitCount = 0;
    std::int32_t ImageCount = 0;
    std::string Comment;
    std::string Author;
    std::string Copyright;

    // Back to the empty state; the thumbnail is freed.
    void Clear();
    // Copies every member of `source` and takes its thumbnail over, so that each bitmap
    // keeps exactly one owner; `source` is left without a thumbnail.
    void TakeFrom(TThumbInfo& source);
};

// The grid's entries, one per file, in the order of its file list.
class TThumbList {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    // Throws std::out_of_range outside 0..Count-1.
    TThumbInfo& Items(int index) { return *FItems.at(static_cast<std::size_t>(index)); }
    const TThumbInfo& Items(int index) const { return *FItems.at(static_cast<std::size_t>(index)); }
    void Add(std::unique_ptr<TThumbInfo> info) { FItems.push_back(std::move(info)); }
    void Clear() { FItems.clear(); }

private:
    std::vector<std::unique_ptr<TThumbInfo>> FItems;
};

}  // namespace pix
