// SPDX-License-Identifier: MIT
#include "thumbs/thumb_info.h"

namespace pix {

void TThumbInfo::Clear() {
    // A fresh record is the empty state; moving it in frees the thumbnail and the texts.
    *this = TThumbInfo{};
}

}  // namespace pix
