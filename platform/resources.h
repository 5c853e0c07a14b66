// SPDX-License-Identifier: MIT
// Data resources built into the program: each is found by its name and its type, as a
// resource script names them ("VEXA_PAL" of type RCDATA, the dictionary of type DICTIONARY).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace pix {

// The type of raw data resources; numbered 10 among the predefined resource types.
inline constexpr std::string_view kRtRcData = "RCDATA";

// A copy of the resource's bytes, or nothing when the program carries no such resource.
// Resources live under ":/TYPE/NAME" in the Qt resource system; names and types are
// matched exactly.
std::optional<std::vector<std::uint8_t>> FindResource(std::string_view name, std::string_view type);

}  // namespace pix
