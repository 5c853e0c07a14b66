// SPDX-License-Identifier: MIT
// Message texts of the thumbnail engine. None is shown: a bad cache file only costs the
// reuse of its thumbnails.
#pragma once

namespace pix {

inline constexpr const char* SInvalidThumbnailFile = "Invalid thumbnail file";
inline constexpr const char* SThumbCacheTooLarge = "Thumbnail cache file too large";
inline constexpr const char* SThumbCacheWriteCancelled = "Thumbnail cache write cancelled";
inline constexpr const char* SPictureMemoryBusy = "Picture memory is in use by other loads";

}  // namespace pix
