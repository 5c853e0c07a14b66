// SPDX-License-Identifier: MIT
#include "thumbs/thumb_info.h"

namespace pix {

void TThumbInfo::Clear() {
    // A fresh record is the empty state; moving it in frees the thumbnail and the texts.
    *this = TThumbInfo{};
}

void TThumbInfo::TakeFrom(TThumbInfo& source) {
    if (&source == this) return;
    static_cast<TAcquisitionInfo&>(*this) = source;
    Thumbnail = std::move(source.Thumbnail);
    FileDate = source.FileDate;
    Width = source.Width;
    Height = source.Height;
    DataSize = source.DataSize;
    BitCount = source.BitCount;
    ImageCount = source.ImageCount;
    Comment = source.Comment;
    Author = source.Author;
    Copyright = source.Copyright;
}

}  // namespace pix
