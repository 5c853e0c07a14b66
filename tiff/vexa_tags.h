// SPDX-License-Identifier: MIT
// The acquisition system's private TIFF tags: its microscope header (65521) and the layout
// of multi-image files (65520).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "imaging/field_list.h"
#include "platform/system_time.h"

namespace pix {

// What the microscope header tells of an image. Flags are -1 for true and 0 for false;
// PointscanData is -2 when a valid point-position block was found. Texts are 8-bit
// (Windows-1252). All zero and empty when nothing is known.
struct TAcquisitionInfo {
    double ParamValue3 = 0;
    double ParamValue4 = 0;
    std::int32_t ParamValue6 = 0;
    double Magnification = 0;
    double HighVoltage = 0;
    double WorkingDistance = 0;
    std::string ParamFormat;
    std::string ParamNames;
    std::int32_t LinescanData = 0;
    std::int32_t PointscanData = 0;
    SYSTEMTIME RecordTime{};
    std::int32_t ImageNumber = 0;
    std::int32_t MeasurementData = 0;
    std::string PointPositions;
};

// Decodes tag 65521 of `fields` into `info`; a missing or malformed header changes nothing
// it cannot read. Never reads past the tag's data and never raises.
void ReadVexaHeader(const TFieldList& fields, TAcquisitionInfo& info);

// True when the block is a sequence of point records that fills it exactly, the first
// named "Pos" (any case) with 8 bytes per point.
bool IsValidPointBlock(std::string_view block);

struct TVexaPlacement {
    std::uint16_t Left, Top, Width, Height;
};

// The layout of a multi-image file.
struct TVexaLayout {
    int Count = 0;  // placed single images, 1..64
    std::array<TVexaPlacement, 64> Items{};
};

// The layout of tag 65520, or nothing when the tag is absent, of another type than BYTE,
// ASCII or SBYTE, shorter than 708 bytes, of another version than 256, or places no image
// or more than 64.
std::optional<TVexaLayout> ReadVexaLayout(const TFieldList& fields);

}  // namespace pix
