// SPDX-License-Identifier: MIT
// The first bytes each image format starts with, checked before a file is read whole: a
// file of gigabytes that is no picture must not be read to find that out.
#pragma once

#include "formats/format_table.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace pix {

// Bytes enough for every check below.
inline constexpr std::size_t kImageSignatureBytes = 8;

// False when `head`, the first bytes of a file of `size` bytes, cannot start a file that
// the reader of `format` accepts; true when the reader has to decide.
bool HasImageSignature(TImageFormat format, std::span<const std::uint8_t> head,
                       std::int64_t size);

}  // namespace pix
