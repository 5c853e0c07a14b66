// SPDX-License-Identifier: MIT
// pixorama-cli thumbs: a folder's thumbnails made by the generation thread, on the console.
#pragma once

#include <span>

namespace pix {

// Runs `pixorama-cli thumbs DIR [--box WxH] [--threads N] [--quiet]`; returns the exit
// status.
int ThumbsCommand(std::span<char*> args);

}  // namespace pix
