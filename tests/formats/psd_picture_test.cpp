// SPDX-License-Identifier: MIT
#include "formats/psd_picture.h"

#include "formats/format_table.h"
#include "test_support.h"

#include "imaging/stream.h"
#include "platform/byte_order.h"
#include "platform/error.h"
#include "platform/res_strings.h"
#include "platform/resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace pix {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A VEXA-PSD file: the 169-byte header, then the samples top row first.
struct TPsdBuilder {
    std::int16_t Width = 4;
    std::int16_t Height = 2;
    std::int16_t Low = 0;
    std::int16_t High = 4095;
    std::int16_t Base = 32;
    std::int16_t Levels = 64;
    Bytes Comment;                       // stored as given, after the length byte
    int CommentLength = -1;              // -1: the comment's own length
    std::vector<std::uint16_t> Samples;  // empty: SampleBytes zero bytes
    long SampleBytes = -1;               // -1: all |Width × Height| samples

    Bytes Build() const {
        Bytes b(kPsdHeaderSize, 0);
        StoreLE16(b.data(), kPsdMagic);
        StoreLE16(b.data() + 2, static_cast<std::uint16_t>(Width));
        StoreLE16(b.data() + 4, static_cast<std::uint16_t>(Height));
        StoreLE16(b.data() + 6, static_cast<std::uint16_t>(Low));
        StoreLE16(b.data() + 8, static_cast<std::uint16_t>(High));
        StoreLE16(b.data() + 28, static_cast<std::uint16_t>(Base));
        StoreLE16(b.data() + 32, static_cast<std::uint16_t>(Levels));
        b[104] = static_cast<std::uint8_t>(CommentLength < 0 ? Comment.size() : CommentLength);
        // A plain loop: GCC 12 misjudges the bounds of std::copy_n into this vector.
        for (std::size_t i = 0; i < Comment.size() && i < 64; ++i) b[105 + i] = Comment[i];
        if (Samples.empty()) {
            const long n =
                SampleBytes >= 0 ? SampleBytes : std::abs(long{Width} * long{Height}) * 2;
            b.resize(b.size() + static_cast<std::size_t>(n), 0);
        }
        for (std::uint16_t s : Samples) {
            b.push_back(static_cast<std::uint8_t>(s));
            b.push_back(static_cast<std::uint8_t>(s >> 8));
        }
        return b;
    }
};

// A stream that keeps its bytes to itself, so the reader must take the rows through Read.
class TOpaqueStream : public TStream {
public:
    explicit TOpaqueStream(Bytes data) : FInner(data) {}
    std::int64_t Read(void* buffer, std::int64_t count) override {
        ++Reads;
        return FInner.Read(buffer, count);
    }
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, int origin) override {
        return FInner.Seek(offset, origin);
    }
    int Reads = 0;

private:
    TMemoryStream FInner;
};

// Loads the file's bytes as LoadFromFile does, but from a stream of the caller's choice.
void LoadFrom(TPePsdPicture& picture, TStream& stream) {
    picture.ReadFileHeader(stream);
    picture.LoadFromStream(stream);
}

void LoadBytes(TPePsdPicture& picture, const Bytes& bytes) {
    TMemoryStream stream(bytes);
    LoadFrom(picture, stream);
}

std::string PsdFile(const std::string& name) { return (test::DataDir() / "psd" / name).string(); }

std::uint8_t Pixel(const TPePsdPicture& picture, int x, int y) {
    return picture.Section()->Row(y)[x];
}

// Runs `f` and returns the message identifier of the EPixError it raises (-1 when none).
template <typename F>
int IdOf(F&& f) {
    return test::Raised(std::forward<F>(f)).Id;
}

// ---------------------------------------------------------------------------------------
// The translation table.

struct TTableCase {
    const char* Name;
    int Low, High, Base, Levels;
    std::vector<std::pair<int, int>> Expected;  // grey value, palette index
};

class PsdTranslation : public testing::TestWithParam<TTableCase> {};

TEST_P(PsdTranslation, MapsGreyValuesOntoTheRamp) {
    const TTableCase& c = GetParam();
    const TPsdTranslation t = BuildPsdTranslation(c.Low, c.High, c.Base, c.Levels);
    for (const auto& [value, index] : c.Expected)
        EXPECT_EQ(t[value], index) << "grey value " << value;
}

// Expected values were worked out with exact fractions (Python's fractions module), the
// scale factor rounded half up to 40 significant bits.
INSTANTIATE_TEST_SUITE_P(
    Cases, PsdTranslation,
    testing::Values(
        // f = 1/64: every 64 grey values share one of the entries 32..95.
        TTableCase{"FullWindow",
                   0,
                   4095,
                   32,
                   64,
                   {{0, 32}, {63, 32}, {64, 33}, {127, 33}, {4031, 94}, {4032, 95}, {4095, 95}}},
        // No levels at all behave as one: every value shows the base.
        TTableCase{"ZeroLevels", 100, 200, 40, 0, {{0, 40}, {150, 40}, {201, 40}, {4095, 40}}},
        TTableCase{"NegativeLevels", 0, 4095, 7, -3, {{0, 7}, {4095, 7}}},
        // Below the window the first entry, above it the last.
        TTableCase{"OffsetWindow",
                   1000,
                   1999,
                   96,
                   32,
                   {{0, 96},
                    {999, 96},
                    {1000, 96},
                    {1031, 96},
                    {1032, 97},
                    {1999, 127},
                    {2000, 127},
                    {4095, 127}}},
        // Only the low byte of the base counts, and the ramp wraps past 255.
        TTableCase{"WrapsModulo256",
                   0,
                   9,
                   0x1FA,
                   10,
                   {{0, 250}, {5, 255}, {6, 0}, {9, 3}, {10, 3}, {4095, 3}}},
        // A window reaching past 4095 leaves the top entries unused.
        TTableCase{"WindowPastTop", 0, 8191, 32, 64, {{127, 32}, {128, 33}, {4095, 63}}},
        TTableCase{"OneValueWindow", 4095, 4095, 16, 5, {{0, 16}, {4094, 16}, {4095, 16}}},
        // 2/3 rounded to 40 bits lies above 2/3 (as a double it lies below): 3 × f reaches 2.
        TTableCase{"RoundedUpFactor", 0, 95, 0, 64, {{2, 1}, {3, 2}, {6, 4}}},
        // 1/7 rounded to 40 bits lies below 1/7: 7 × f stays under 1.
        TTableCase{"RoundedDownFactor", 0, 13, 0, 2, {{6, 0}, {7, 0}, {8, 1}, {13, 1}}},
        TTableCase{"RoundedDownFactorTen", 0, 11, 0, 10, {{5, 4}, {6, 4}, {7, 5}, {11, 9}}}),
    [](const testing::TestParamInfo<TTableCase>& info) { return std::string(info.param.Name); });

TEST(PsdTranslationLimits, RefusesWindowsOutsideTheGreyRange) {
    for (auto [low, high] : {std::pair{-1, 100}, {4096, 5000}, {200, 199}}) {
        EXPECT_EQ(IdOf([&] { BuildPsdTranslation(low, high, 0, 64); }), SInvalidPsdFormat.Id)
            << low << ".." << high;
    }
}

TEST(PsdTranslationLimits, IsMonotonousForEveryLevelCount) {
    for (int levels = 1; levels <= 256; levels += 17) {
        const TPsdTranslation t = BuildPsdTranslation(300, 3800, 0, levels);
        for (int i = 1; i < 4096; ++i) ASSERT_LE(t[i - 1], t[i]) << levels << " at " << i;
        EXPECT_EQ(t[0], 0);
        EXPECT_EQ(t[4095], levels - 1);
    }
}

// ---------------------------------------------------------------------------------------
// The palette resource.

TEST(VexaPalette, ResourceHolds256EntriesOfTheFixedTable) {
    const auto raw = FindResource("VEXA_PAL", kRtRcData);
    ASSERT_TRUE(raw.has_value());
    EXPECT_EQ(raw->size(), 1024u);

    // Spot checks across the regions, as red-green-blue.
    const std::pair<int, std::uint32_t> expected[] = {
        {0, 0x000000},   {1, 0x0000A8},   {6, 0xA85400},   {9, 0x5454FC},   {15, 0xFCFCFC},
        {17, 0x141414},  {23, 0x606060},  {31, 0xFCFCFC},  {32, 0x000000},  {33, 0x040404},
        {95, 0xFCFCFC},  {96, 0x000020},  {103, 0x000080}, {112, 0x0C0CA4}, {127, 0xDCDCFC},
        {131, 0x043C04}, {143, 0x0CB40C}, {160, 0x200000}, {176, 0x940C0C}, {200, 0x005858},
        {208, 0x009090}, {224, 0x200020}, {241, 0x981098}, {255, 0xFCDCFC}};
    const auto& table = VexaPalette();
    for (const auto& [index, rgb] : expected) {
        const RGBQUAD& q = table[index];
        EXPECT_EQ(q.rgbRed, (rgb >> 16) & 0xFF) << "entry " << index;
        EXPECT_EQ(q.rgbGreen, (rgb >> 8) & 0xFF) << "entry " << index;
        EXPECT_EQ(q.rgbBlue, rgb & 0xFF) << "entry " << index;
        EXPECT_EQ(q.rgbReserved, 0) << "entry " << index;
        // The resource is stored in colour-table order: blue, green, red, 0.
        EXPECT_EQ(LoadLE32(raw->data() + 4 * index), rgb) << "entry " << index;
    }
    // The 64-step ramp is exact: entry 32 + k is grey 4k.
    for (int k = 0; k < 64; ++k) EXPECT_EQ(table[32 + k].rgbGreen, 4 * k);
}

TEST(VexaPalette, UnknownResourcesAreNotFound) {
    EXPECT_FALSE(FindResource("VEXA_PAL", "DICTIONARY").has_value());
    EXPECT_FALSE(FindResource("vexa_pal", kRtRcData).has_value());
    EXPECT_FALSE(FindResource("", kRtRcData).has_value());
    EXPECT_FALSE(FindResource("../RCDATA/VEXA_PAL", kRtRcData).has_value());
}

// ---------------------------------------------------------------------------------------
// Whole files.

TEST(PsdPicture, ReadsTheRampFileWithOverlaysAndComment) {
    TPePsdPicture picture;
    picture.LoadFromFile(PsdFile("ramp-64x48.psd"));
    ASSERT_EQ(picture.Width(), 64);
    ASSERT_EQ(picture.Height(), 48);
    EXPECT_EQ(picture.Info()->Header().biHeight, 48);  // bottom-up
    EXPECT_EQ(picture.BitCount(), 8);
    EXPECT_EQ(picture.PaletteKind(), pk256Colors);
    EXPECT_EQ(std::memcmp(picture.Info()->Colors(), VexaPalette().data(), 1024), 0);
    ASSERT_NE(picture.Palette(), nullptr);
    EXPECT_EQ(picture.Palette()->Entries()[6].peGreen, 0x54);

    // Column x holds grey 64 x: entry 32 + x, the top row at the top.
    EXPECT_EQ(Pixel(picture, 0, 0), 32);
    EXPECT_EQ(Pixel(picture, 63, 0), 95);
    EXPECT_EQ(Pixel(picture, 20, 30), 52);
    // The overlay block of code 3 shows entry 2 whatever its grey.
    EXPECT_EQ(Pixel(picture, 8, 8), 2);
    EXPECT_EQ(Pixel(picture, 11, 11), 2);
    EXPECT_EQ(Pixel(picture, 12, 11), 44);
    // The bottom row carries the overlay codes 1..15 over grey 0x123.
    const int overlay[15] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 15};
    for (int code = 1; code <= 15; ++code) {
        EXPECT_EQ(Pixel(picture, code - 1, 47), overlay[code - 1]) << "code " << code;
        EXPECT_EQ(PsdOverlayIndex(static_cast<unsigned>(code)), overlay[code - 1]);
    }
    // "Größe 5µm" from code page 437 to Windows-1252.
    EXPECT_EQ(picture.Description(),
              "Gr\xF6\xDF"
              "e 5\xB5m");
    EXPECT_TRUE(picture.Modified());
}

TEST(PsdPicture, OverlayMappingOffShowsTheGrey) {
    TPePsdPicture picture;
    picture.SetOverlayMapping(false);
    picture.LoadFromFile(PsdFile("ramp-64x48.psd"));
    EXPECT_EQ(Pixel(picture, 8, 8), 40);                // grey 512
    EXPECT_EQ(Pixel(picture, 0, 47), 32 + 0x123 / 64);  // grey 0x123
}

TEST(PsdPicture, NegativeHeightGivesATopDownPicture) {
    TPePsdPicture picture;
    picture.LoadFromFile(PsdFile("topdown-8x4.psd"));
    ASSERT_EQ(picture.Height(), 4);
    EXPECT_EQ(picture.Info()->Header().biHeight, -4);
    ASSERT_TRUE(picture.Section()->TopDown());
    for (int y = 0; y < 4; ++y) {
        // File row y is grey 1024 y: entry 32 + 16 y, both by picture row and in memory,
        // where a top-down picture keeps its top row first.
        EXPECT_EQ(Pixel(picture, 3, y), 32 + 16 * y);
        EXPECT_EQ(picture.Bits()[y * picture.BytesPerLine() + 3], 32 + 16 * y);
    }
}

TEST(PsdPicture, TimFilesAreReadThroughTheFactory) {
    const std::string file = PsdFile("window-32x2.tim");
    auto picture = CreatePictureForFile(file);
    ASSERT_NE(dynamic_cast<TPePsdPicture*>(picture.get()), nullptr);
    picture->LoadFromFile(file);
    // Column x holds grey 1900 + 10 x under the window 2000..2099 over entries 96..127.
    const int expected[32] = {96,  96,  96,  96,  96,  96,  96,  96,  96,  96,  96,
                              99,  102, 105, 108, 112, 115, 118, 121, 124, 127, 127,
                              127, 127, 127, 127, 127, 127, 127, 127, 127, 127};
    for (int x = 0; x < 32; ++x) EXPECT_EQ(picture->Section()->Row(1)[x], expected[x]) << x;
    EXPECT_EQ(picture->Description(), "");
    EXPECT_FALSE(picture->Modified());
}

TEST(PsdPicture, StreamWithoutMemoryReadsTheSamePixels) {
    TPePsdPicture mapped;
    mapped.LoadFromFile(PsdFile("ramp-64x48.psd"));
    const std::string bytes = test::ReadFile(PsdFile("ramp-64x48.psd"));
    TOpaqueStream stream(Bytes(bytes.begin(), bytes.end()));
    TPePsdPicture streamed;
    LoadFrom(streamed, stream);
    EXPECT_GE(stream.Reads, 1 + 48);  // the header, then row by row
    ASSERT_EQ(streamed.ImageSize(), mapped.ImageSize());
    EXPECT_EQ(std::memcmp(streamed.Bits(), mapped.Bits(), mapped.ImageSize()), 0);
    EXPECT_EQ(streamed.Description(), mapped.Description());
}

TEST(PsdPicture, SavingWritesAnEmptyFile) {
    TPePsdPicture picture;
    picture.LoadFromFile(PsdFile("topdown-8x4.psd"));
    test::TTempDir dir;
    picture.SaveToFile(dir.File("out.psd"));
    EXPECT_EQ(test::ReadFile(dir.File("out.psd")), "");
    EXPECT_FALSE(picture.Modified());
}

// ---------------------------------------------------------------------------------------
// Comments.

TEST(PsdComment, LengthByteAboveTheFieldIsCutToItsSixtyFourCharacters) {
    TPsdBuilder b;
    b.Comment = Bytes(64, 'a');
    b.CommentLength = 200;
    TPePsdPicture picture;
    LoadBytes(picture, b.Build());
    EXPECT_EQ(picture.Description(), std::string(64, 'a'));
}

TEST(PsdComment, EmptyCommentLeavesThePictureUnmodified) {
    TPsdBuilder b;
    b.Comment = Bytes{'x', 'y'};
    b.CommentLength = 0;
    TPePsdPicture picture;
    LoadBytes(picture, b.Build());
    EXPECT_EQ(picture.Description(), "");
    EXPECT_FALSE(picture.Modified());
}

TEST(PsdComment, BoxDrawingAndLettersOfCodePage437) {
    TPsdBuilder b;
    b.Comment = Bytes{0x8E, 0x99, 0x9A, 0x84, 0xE1, 0xF8, 'C'};  // Ä Ö Ü ä ß ° C
    TPePsdPicture picture;
    LoadBytes(picture, b.Build());
    EXPECT_EQ(picture.Description(),
              "\xC4\xD6\xDC\xE4\xDF\xB0"
              "C");
}

// ---------------------------------------------------------------------------------------
// Refused files.

struct TBadCase {
    const char* Name;
    TPsdBuilder Builder;
    std::size_t Cut;  // bytes removed from the end
    TResString Message;
};

TPsdBuilder With(std::int16_t width, std::int16_t height, std::int16_t low = 0,
                 std::int16_t high = 4095) {
    TPsdBuilder b;
    b.Width = width;
    b.Height = height;
    b.Low = low;
    b.High = high;
    return b;
}

// The largest picture the header can describe, over a few hundred bytes of samples: refused
// before any pixel memory is made for it.
TPsdBuilder Huge() {
    TPsdBuilder b = With(32767, -32768);
    b.SampleBytes = 300;
    return b;
}

class PsdRefused : public testing::TestWithParam<TBadCase> {};

TEST_P(PsdRefused, ThroughMemoryAndThroughReads) {
    const TBadCase& c = GetParam();
    Bytes bytes = c.Builder.Build();
    bytes.resize(bytes.size() - std::min(c.Cut, bytes.size()));
    {
        TPePsdPicture picture;
        EXPECT_EQ(IdOf([&] { LoadBytes(picture, bytes); }), c.Message.Id);
        EXPECT_FALSE(picture.Loading());
    }
    {
        TPePsdPicture picture;
        TOpaqueStream stream(bytes);
        EXPECT_EQ(IdOf([&] { LoadFrom(picture, stream); }), c.Message.Id);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PsdRefused,
    testing::Values(TBadCase{"ZeroWidth", With(0, 4), 0, SInvalidPsdFormat},
                    TBadCase{"NegativeWidth", With(-4, 4), 0, SInvalidPsdFormat},
                    TBadCase{"ZeroHeight", With(4, 0), 0, SInvalidPsdFormat},
                    TBadCase{"WindowLowNegative", With(4, 4, -1, 100), 0, SInvalidPsdFormat},
                    TBadCase{"WindowLowAboveRange", With(4, 4, 4096, 5000), 0, SInvalidPsdFormat},
                    TBadCase{"WindowHighBelowLow", With(4, 4, 300, 299), 0, SInvalidPsdFormat},
                    TBadCase{"OneSampleShort", With(4, 4), 1, SReadError},
                    TBadCase{"TopDownOneRowShort", With(4, -4), 8, SReadError},
                    TBadCase{"NoSamples", With(4, 4), 32, SReadError},
                    TBadCase{"HeaderShort", With(4, 4), 32 + 1, SReadError},
                    TBadCase{"HugeSizeLittleData", Huge(), 0, SReadError}),
    [](const testing::TestParamInfo<TBadCase>& info) { return std::string(info.param.Name); });

TEST(PsdRefusedFiles, TruncatedAndForeignFiles) {
    TPePsdPicture picture;
    EXPECT_EQ(IdOf([&] { picture.LoadFromFile(PsdFile("truncated-16x16.psd")); }), SReadError.Id);
    EXPECT_EQ(IdOf([&] { picture.LoadFromFile(PsdFile("bad-magic.psd")); }), SInvalidPsdFormat.Id);
    // A stream read without the file header has no magic to show.
    TPePsdPicture fresh;
    TMemoryStream stream(TPsdBuilder{}.Build());
    EXPECT_EQ(IdOf([&] { fresh.LoadFromStream(stream); }), SInvalidPsdFormat.Id);
}

// Random header values and cuts: every load ends in a picture or in one of our own
// exceptions, through memory and through reads (run under the sanitizers, this is also the
// proof that no byte outside the buffers is touched).
TEST(PsdRefusedFiles, RandomHeadersNeverEscape) {
    std::mt19937 random(20261208);
    auto any16 = [&] { return static_cast<std::int16_t>(random() & 0xFFFF); };
    int loaded = 0;
    for (int round = 0; round < 400; ++round) {
        TPsdBuilder b;
        b.Width = static_cast<std::int16_t>(random() % 3 == 0 ? any16() : random() % 40);
        b.Height = static_cast<std::int16_t>(random() % 3 == 0 ? any16() : random() % 81 - 40);
        b.Low = random() % 2 == 0 ? any16() : static_cast<std::int16_t>(random() % 4096);
        b.High = random() % 2 == 0 ? any16() : static_cast<std::int16_t>(random() % 4096);
        b.Base = any16();
        b.Levels = any16();
        b.SampleBytes = static_cast<long>(random() % 4000);
        b.Comment = Bytes(64, 0x80);
        b.CommentLength = static_cast<int>(random() % 256);
        const Bytes bytes = b.Build();
        for (bool throughReads : {false, true}) {
            TPePsdPicture picture;
            try {
                if (throughReads) {
                    TOpaqueStream stream(bytes);
                    LoadFrom(picture, stream);
                } else {
                    LoadBytes(picture, bytes);
                }
                ASSERT_EQ(picture.Width(), b.Width);
                ASSERT_EQ(picture.Height(), std::abs(b.Height));
                ++loaded;
            } catch (const EPixError& e) {
                ASSERT_TRUE(e.Id == SInvalidPsdFormat.Id || e.Id == SReadError.Id) << e.what();
            }
        }
    }
    // Enough of the rounds must get as far as the pixels to mean anything.
    EXPECT_GT(loaded, 40);
}

// ---------------------------------------------------------------------------------------
// Progress and abort.

TEST(PsdProgress, ReportsEverySixteenRowsAndOneHundredAtTheEnd) {
    TPePsdPicture picture;
    std::vector<std::tuple<int, int, int>> reports;
    picture.OnProgress = [&](TDibPicture&, int first, int count, int percent, bool&) {
        reports.emplace_back(first, count, percent);
    };
    picture.LoadFromFile(PsdFile("ramp-64x48.psd"));
    const std::vector<std::tuple<int, int, int>> expected = {
        {0, 15, 32}, {15, 16, 66}, {31, 16, 100}, {47, 1, 100}};
    EXPECT_EQ(reports, expected);
}

TEST(PsdProgress, AbortStopsTheRowLoop) {
    TPePsdPicture picture;
    picture.OnProgress = [](TDibPicture&, int, int, int percent, bool& abort) {
        abort = percent < 100;
    };
    picture.LoadFromFile(PsdFile("ramp-64x48.psd"));
    // The first report comes before row 15; that row is still made, the next ones are not.
    EXPECT_EQ(Pixel(picture, 63, 15), 95);
    EXPECT_EQ(Pixel(picture, 63, 16), 0);
    EXPECT_EQ(Pixel(picture, 63, 47), 0);
}

}  // namespace
}  // namespace pix
