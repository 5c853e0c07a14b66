// SPDX-License-Identifier: MIT
// The entry of one image file: its thumbnail and what is known of the image.
#pragma once

#include "formats/bmp_picture.h"
#include "tiff/vexa_tags.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pix {

// Texts are 8-bit (Windows-1252) as the files store them. The empty state, all zero and
// empty without a thumbnail, means nothing is known. The acquisition members come from
// TAcquisitionInfo.
struct TThumbInfo : TAcquisitionInfo {
    std::unique_ptr<TBmpPicture> Thumbnail;
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
