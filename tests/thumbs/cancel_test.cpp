// SPDX-License-Identifier: MIT
// A load belongs to whoever started it and stops when its owner asks: an entry made with a
// stopped token fails with its own message and keeps only its date, and a stop asked for
// during the rows ends the row loop at its next check. The sample folder holds every format.
#include "formats/format_table.h"

#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/res_strings.h"
#include "thumbs/thumb_maker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stop_token>
#include <string>

namespace pix {
namespace {

class CancelTest : public ::testing::TestWithParam<const char*> {
protected:
    std::string Path() const {
        const std::string path = std::string(PIXORAMA_SAMPLES_DIR) + "/" + GetParam();
        if (!std::filesystem::exists(path)) ADD_FAILURE() << "sample missing: " << path;
        return path;
    }
};

TEST_P(CancelTest, AStoppedEntryFailsWithItsOwnMessage) {
    const std::string path = Path();
    std::stop_source stop;
    stop.request_stop();
    TThumbInfo info;
    try {
        MakeThumbInfo(path, 112, 96, info, stop.get_token());
        FAIL() << "the entry was made";
    } catch (const EPixError& e) {
        EXPECT_EQ(e.Id, SLoadCancelled.Id);
    }
    EXPECT_EQ(info.Thumbnail, nullptr);
    EXPECT_EQ(info.Width, 0);
    EXPECT_EQ(info.FileDate, FileAge(path));
}

TEST_P(CancelTest, AStopDuringTheRowsEndsTheRowLoop) {
    const std::string path = Path();
    int reports = 0;
    auto whole = CreatePictureForFile(path);
    whole->OnProgress = [&](TDibPicture&, int, int, int, bool&) { ++reports; };
    whole->LoadFromFile(path);
    const int wholeReports = reports;

    std::stop_source stop;
    auto picture = CreatePictureForFile(path);
    picture->SetStopToken(stop.get_token());
    reports = 0;
    picture->OnProgress = [&](TDibPicture&, int, int, int, bool&) {
        ++reports;
        stop.request_stop();
    };
    EXPECT_THROW(picture->LoadFromFile(path), EPixError);
    // The row loop ends at the first report; a decoder may still report where it ended.
    // Decoders that report once, at the end, cannot show it here.
    EXPECT_LE(reports, std::min(wholeReports, 2)) << "of " << wholeReports;
    EXPECT_FALSE(picture->Loading());
    // The same picture loads whole once its owner hands it a fresh token.
    picture->SetStopToken({});
    picture->OnProgress = nullptr;
    picture->LoadFromFile(path);
    EXPECT_EQ(picture->Width(), whole->Width());
}

INSTANTIATE_TEST_SUITE_P(Samples, CancelTest,
                         ::testing::Values("grating-640x480.bmp", "mask-320x240.bmp",
                                           "particles-1024x768.jpg",
                                           "false-colour-palette-384x288.png",
                                           "lzw-predictor-600x450.tif", "sem-16bit-512x384.tif",
                                           "mosaic-4-fields.tif", "vexa-rings-256x192.psd",
                                           "vexa-window-320x200.tim"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
}  // namespace pix
