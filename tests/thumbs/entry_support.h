// SPDX-License-Identifier: MIT
// Comparing thumbnail entries member by member, the thumbnail by its pixels.
#pragma once

#include "formats/bmp_picture.h"
#include "thumbs/thumb_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace pix::test {

// The pixel bytes of each row, without the padding that rounds rows to 4 bytes.
inline std::string PixelsOf(const TBmpPicture* picture) {
    if (picture == nullptr) return {};
    const auto used = static_cast<std::size_t>((picture->Width() * picture->BitCount() + 7) / 8);
    std::string pixels;
    for (int y = 0; y < picture->Height(); ++y) {
        const auto* row = picture->Bits() + picture->BytesPerLine() * static_cast<unsigned>(y);
        pixels.append(reinterpret_cast<const char*>(row), used);
    }
    return pixels;
}

// Every member but FileDate, which the cache keeps outside the record.
inline void ExpectSameInfo(const TThumbInfo& a, const TThumbInfo& b) {
    ASSERT_EQ(a.Thumbnail != nullptr, b.Thumbnail != nullptr);
    if (a.Thumbnail) {
        EXPECT_EQ(a.Thumbnail->Width(), b.Thumbnail->Width());
        EXPECT_EQ(a.Thumbnail->Height(), b.Thumbnail->Height());
        EXPECT_EQ(a.Thumbnail->BitCount(), b.Thumbnail->BitCount());
        EXPECT_EQ(PixelsOf(a.Thumbnail.get()), PixelsOf(b.Thumbnail.get()));
    }
    EXPECT_EQ(a.Width, b.Width);
    EXPECT_EQ(a.Height, b.Height);
    EXPECT_EQ(a.DataSize, b.DataSize);
    EXPECT_EQ(a.BitCount, b.BitCount);
    EXPECT_EQ(a.ImageCount, b.ImageCount);
    EXPECT_EQ(a.Comment, b.Comment);
    EXPECT_EQ(a.Author, b.Author);
    EXPECT_EQ(a.Copyright, b.Copyright);
    EXPECT_EQ(a.Magnification, b.Magnification);
    EXPECT_EQ(a.WorkingDistance, b.WorkingDistance);
    EXPECT_EQ(a.HighVoltage, b.HighVoltage);
    EXPECT_EQ(a.ParamValue3, b.ParamValue3);
    EXPECT_EQ(a.ParamValue4, b.ParamValue4);
    EXPECT_EQ(a.ParamValue6, b.ParamValue6);
    EXPECT_EQ(a.ParamFormat, b.ParamFormat);
    EXPECT_EQ(a.ParamNames, b.ParamNames);
    EXPECT_EQ(a.LinescanData, b.LinescanData);
    EXPECT_EQ(a.PointscanData, b.PointscanData);
    EXPECT_EQ(0, std::memcmp(&a.RecordTime, &b.RecordTime, sizeof(SYSTEMTIME)));
    EXPECT_EQ(a.ImageNumber, b.ImageNumber);
    EXPECT_EQ(a.MeasurementData, b.MeasurementData);
    EXPECT_EQ(a.PointPositions, b.PointPositions);
}

}  // namespace pix::test
