// SPDX-License-Identifier: MIT
#include "thumbs/thumb_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace pix {
namespace {

// A thumbnail that counts how many of its kind were destroyed.
int gFreed = 0;
class TCountedThumb : public TBmpPicture {
public:
    TCountedThumb() : TBmpPicture(4, 3, pkGray256) {}
    ~TCountedThumb() override { ++gFreed; }
};

std::unique_ptr<TThumbInfo> FullRecord() {
    auto info = std::make_unique<TThumbInfo>();
    info->Thumbnail = std::make_unique<TCountedThumb>();
    info->FileDate = 0x5A8B1234;
    info->Width = 640;
    info->Height = 480;
    info->DataSize = 307200;
    info->BitCount = 8;
    info->ImageCount = 2;
    info->Comment = "[1] a";
    info->Author = "b";
    info->Copyright = "c";
    info->ParamValue3 = 3;
    info->ParamValue4 = 4;
    info->ParamValue6 = 6;
    info->Magnification = 1000;
    info->HighVoltage = 20;
    info->WorkingDistance = 10;
    info->ParamFormat = "%.0f";
    info->ParamNames = "MAG";
    info->LinescanData = -1;
    info->PointscanData = -2;
    info->RecordTime = SYSTEMTIME{2026, 12, 2, 8, 10, 30, 0, 5};
    info->ImageNumber = 17;
    info->MeasurementData = -1;
    info->PointPositions = std::string("P\0s", 3);
    return info;
}

TEST(ThumbInfoTest, ClearGivesTheEmptyStateAndFreesTheThumbnail) {
    auto info = FullRecord();
    gFreed = 0;
    info->Clear();
    EXPECT_EQ(gFreed, 1);
    EXPECT_EQ(info->Thumbnail, nullptr);
    // Every number zero, every text empty: compare with a fresh record member by member.
    const TThumbInfo empty;
    EXPECT_EQ(info->FileDate, empty.FileDate);
    EXPECT_EQ(info->Width, 0);
    EXPECT_EQ(info->Height, 0);
    EXPECT_EQ(info->DataSize, 0);
    EXPECT_EQ(info->BitCount, 0);
    EXPECT_EQ(info->ImageCount, 0);
    EXPECT_TRUE(info->Comment.empty() && info->Author.empty() && info->Copyright.empty());
    EXPECT_EQ(info->ParamValue3, 0);
    EXPECT_EQ(info->ParamValue4, 0);
    EXPECT_EQ(info->ParamValue6, 0);
    EXPECT_EQ(info->Magnification, 0);
    EXPECT_EQ(info->HighVoltage, 0);
    EXPECT_EQ(info->WorkingDistance, 0);
    EXPECT_TRUE(info->ParamFormat.empty() && info->ParamNames.empty());
    EXPECT_EQ(info->LinescanData, 0);
    EXPECT_EQ(info->PointscanData, 0);
    const SYSTEMTIME zero{};
    EXPECT_EQ(std::memcmp(&info->RecordTime, &zero, sizeof zero), 0);
    EXPECT_EQ(info->ImageNumber, 0);
    EXPECT_EQ(info->MeasurementData, 0);
    EXPECT_TRUE(info->PointPositions.empty());
    // A cleared record can be filled and cleared again.
    info->Thumbnail = std::make_unique<TCountedThumb>();
    info->Clear();
    EXPECT_EQ(gFreed, 2);
}

TEST(ThumbListTest, ClearFreesRecordsAndTheirThumbnails) {
    TThumbList list;
    list.Add(FullRecord());
    list.Add(std::make_unique<TThumbInfo>());  // a file without a thumbnail yet
    list.Add(FullRecord());
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Items(2).Width, 640);
    EXPECT_THROW(list.Items(3), std::out_of_range);
    EXPECT_THROW(list.Items(-1), std::out_of_range);
    gFreed = 0;
    list.Clear();
    EXPECT_EQ(gFreed, 2);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_THROW(list.Items(0), std::out_of_range);
}

TEST(ThumbListTest, DestroyingTheListFreesTheThumbnails) {
    gFreed = 0;
    {
        TThumbList list;
        list.Add(FullRecord());
    }
    EXPECT_EQ(gFreed, 1);
}

TEST(ThumbListTest, HandedOverThumbnailSurvivesClearingTheWorkingRecord) {
    // The thread's working record hands its thumbnail to the grid's entry and is then
    // cleared for the next file; the entry must keep a valid bitmap.
    TThumbList list;
    list.Add(std::make_unique<TThumbInfo>());
    auto working = FullRecord();
    TThumbInfo& entry = list.Items(0);
    entry.Thumbnail = std::move(working->Thumbnail);
    entry.Comment = working->Comment;
    gFreed = 0;
    working->Clear();
    EXPECT_EQ(gFreed, 0);
    ASSERT_NE(entry.Thumbnail, nullptr);
    EXPECT_EQ(entry.Thumbnail->Width(), 4);
    EXPECT_EQ(entry.Comment, "[1] a");
    list.Clear();
    EXPECT_EQ(gFreed, 1);
}

}  // namespace
}  // namespace pix
