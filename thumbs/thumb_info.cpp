// SPDX-License-Identifier: MIT
#include "thumbs/thumb_info.h"

#include "platform/error.h"
#include "platform/res_strings.h"

#include <utility>

namespace pix {

TThumbnail& TThumbnail::operator=(std::unique_ptr<TBmpPicture> picture) noexcept {
    FPicture = std::move(picture);
    FSource.reset();
    return *this;
}

TThumbnail::TThumbnail(TThumbnail&& other) noexcept
    : FPicture(std::move(other.FPicture)),
      FSource(std::move(other.FSource)),
      FOffset(other.FOffset),
      FLength(other.FLength) {}

TThumbnail& TThumbnail::operator=(TThumbnail&& other) noexcept {
    if (&other == this) return *this;
    FPicture = std::move(other.FPicture);
    FSource = std::move(other.FSource);
    FOffset = other.FOffset;
    FLength = other.FLength;
    return *this;
}

void TThumbnail::Defer(std::shared_ptr<const TThumbSource> source, std::int64_t offset,
                       std::uint32_t length) {
    FPicture.reset();
    FSource = std::move(source);
    FOffset = offset;
    FLength = length;
}

TBmpPicture* TThumbnail::get() const {
    if (!FPicture && FSource) {
        FPicture = FSource->ReadThumbnail(FOffset, FLength);
        // What cannot be read now never will be: the entry has no thumbnail from here on.
        if (!FPicture) FSource.reset();
    }
    return FPicture.get();
}

TBmpPicture& TThumbnail::operator*() const {
    TBmpPicture* picture = get();
    if (picture == nullptr) throw EPixError(SInvalidThumbnailFile);
    return *picture;
}

void TThumbnail::reset() noexcept {
    FPicture.reset();
    FSource.reset();
}

void TThumbnail::Release() noexcept {
    if (FSource) FPicture.reset();
}

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
