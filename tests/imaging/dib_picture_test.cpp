// SPDX-License-Identifier: MIT
#include "imaging/dib_picture.h"

#include "test_support.h"

#include "platform/error.h"
#include "platform/res_strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

namespace pix {
namespace {

// A minimal format for exercising the load sequence: "FK", width and height (16-bit),
// palette kind, offset of a further image (32-bit), then the rows of the section as they
// are. ReadBits reports progress once per row.
class TFakePicture : public TDibPicture {
public:
    using TDibPicture::TDibPicture;

    std::int64_t ReadHeader(TStream& stream, std::unique_ptr<TDibInfo>& info) override {
        std::uint8_t h[9];
        stream.ReadBuffer(h, sizeof h);
        FPaletteKind = static_cast<TPaletteKind>(h[4]);
        AllocInfo(h[0] | h[1] << 8, h[2] | h[3] << 8, true);
        EXPECT_EQ(&info, &FInfo);
        return h[5] | h[6] << 8 | h[7] << 16 | h[8] << 24;
    }
    void ReadBits(TStream& stream) override {
        const int rows = Height();
        for (int r = 0; r < rows && !LoadCancelled(); ++r) {
            stream.ReadBuffer(FBits + BytesPerLine() * static_cast<std::uint64_t>(r),
                              static_cast<std::int64_t>(BytesPerLine()));
            Progress(r, 1, (r + 1) * 100 / rows);
        }
        ++RowsReadCalls;
    }
    void ReadFileHeader(TStream& stream) override {
        char magic[2];
        stream.ReadBuffer(magic, 2);
        if (magic[0] != 'F' || magic[1] != 'K') throw EPixError("not a fake file");
    }
    void WriteFileHeader(TStream& stream) override { stream.WriteBuffer("FK", 2); }
    void WriteData(TStream& stream, bool) override {
        if (FailWrite) throw EPixError("write failed");
        stream.WriteBuffer(FBits, static_cast<std::int64_t>(ImageSize()));
    }

    bool FailWrite = false;
    int RowsReadCalls = 0;
};

std::string FakeImage(int width, int height, TPaletteKind kind, std::uint32_t next,
                      std::uint8_t fill) {
    std::string s = "FK";
    s += static_cast<char>(width & 0xFF);
    s += static_cast<char>(width >> 8);
    s += static_cast<char>(height & 0xFF);
    s += static_cast<char>(height >> 8);
    s += static_cast<char>(kind);
    for (int i = 0; i < 4; ++i) s += static_cast<char>((next >> (8 * i)) & 0xFF);
    const std::uint64_t bpl = DibBytesPerLine(width, BitCountOfKind(kind));
    s.append(static_cast<std::size_t>(bpl * static_cast<std::uint64_t>(height)),
             static_cast<char>(fill));
    return s;
}

// ---------------------------------------------------------------------------------------
// Creation, sizes and colour tables

struct TNewCase {
    int Width, Height;
    TPaletteKind Kind;
    std::size_t InfoSize;
    std::uint64_t BytesPerLine, ImageSize;
    int BitCount;
};

class NewPictureTest : public ::testing::TestWithParam<TNewCase> {};

TEST_P(NewPictureTest, SizesAndZeroPixels) {
    const TNewCase& c = GetParam();
    TFakePicture p(c.Width, c.Height, c.Kind);
    EXPECT_EQ(p.InfoSize(), c.InfoSize);
    EXPECT_EQ(p.BytesPerLine(), c.BytesPerLine);
    EXPECT_EQ(p.ImageSize(), c.ImageSize);
    EXPECT_EQ(p.BitCount(), c.BitCount);
    EXPECT_EQ(p.Width(), c.Width);
    EXPECT_EQ(p.Height(), c.Height < 0 ? -c.Height : c.Height);
    EXPECT_EQ(p.Info()->Header().biSizeImage, c.ImageSize);
    for (std::uint64_t i = 0; i < p.ImageSize(); ++i) ASSERT_EQ(p.Bits()[i], 0) << i;
}

INSTANTIATE_TEST_SUITE_P(Kinds, NewPictureTest,
                         ::testing::Values(TNewCase{3, 2, pkMono, 48, 4, 8, 1},
                                           TNewCase{5, 7, pkTrueColor, 40, 16, 112, 24},
                                           TNewCase{9, 3, pk16Colors, 104, 8, 24, 4},
                                           TNewCase{13, 2, pkGray256, 1064, 16, 32, 8},
                                           TNewCase{4, -3, pkGray236, 1064, 4, 12, 8},
                                           TNewCase{33, 1, pkMono, 48, 8, 8, 1}));

TEST(DibPictureTest, NewMonoHasBlackAndWhiteTable) {
    TFakePicture p(3, 2, pkMono);
    const RGBQUAD* t = p.Info()->Colors();
    EXPECT_EQ(std::memcmp(&t[0], "\0\0\0\0", 4), 0);
    EXPECT_EQ(t[1].rgbRed, 255);
    EXPECT_EQ(t[1].rgbGreen, 255);
    EXPECT_EQ(t[1].rgbBlue, 255);
    EXPECT_EQ(p.DetectPaletteKind(), pkMono);
}

TEST(DibPictureTest, TrueColorGetsHalftonePalette) {
    TFakePicture p(5, 7, pkTrueColor);
    ASSERT_NE(p.Palette(), nullptr);
    EXPECT_TRUE(p.Palette()->IsHalftone());
    EXPECT_EQ(p.Palette()->Entries().size(), 256u);
}

TEST(DibPictureTest, EachKindIsDetectedBackFromItsDefaultTable) {
    // On a true-colour screen the system table is the grey-236 table, so a new
    // pk256Colors picture classifies as pkGray236.
    const std::pair<TPaletteKind, TPaletteKind> cases[] = {
        {pkMono, pkMono},       {pk16Colors, pk16Colors}, {pk256Colors, pkGray236},
        {pkGray256, pkGray256}, {pkGray236, pkGray236},   {pkTrueColor, pkTrueColor}};
    for (auto [kind, detected] : cases) {
        TFakePicture p(4, 4, kind);
        EXPECT_EQ(int(p.DetectPaletteKind()), int(detected)) << int(kind);
        // A true-colour picture's halftone palette has 256 coloured entries.
        const TPaletteKind fromPalette = kind == pkTrueColor ? pk256Colors : detected;
        EXPECT_EQ(int(PaletteKindOfPalette(p.Palette())), int(fromPalette)) << int(kind);
    }
}

TEST(DibPictureTest, RefusesEmptyAndOversizedPictures) {
    TFakePicture p;
    for (auto [w, h] : {std::pair{0, 5}, std::pair{5, 0}}) {
        try {
            p.New(w, h, pkGray256);
            FAIL() << w << "x" << h;
        } catch (const EPixError& e) {
            EXPECT_EQ(e.Id, SInvalidImageSize.Id);
        }
    }
    try {
        p.New(60000, 60000, pkTrueColor);
        FAIL();
    } catch (const EPixError& e) {
        EXPECT_EQ(e.Id, SImageTooLarge.Id);
    }
    EXPECT_EQ(p.Info(), nullptr);
}

TEST(DibPictureTest, PixelsAboveThresholdLiveInAMapping) {
    TFakePicture small(256, 256, pkGray256);  // exactly 65536 bytes
    EXPECT_FALSE(small.Section()->UsesMapping());
    TFakePicture large(4, 16385, pkGray256);  // 65540 bytes
    EXPECT_TRUE(large.Section()->UsesMapping());
}

struct TKindCase {
    const char* Name;
    int ColouredEntry;  // -1: none
    TPaletteKind Expected;
};

class PaletteKindTest : public ::testing::TestWithParam<TKindCase> {};

TEST_P(PaletteKindTest, ClassifiesEightBitTables) {
    TDibInfo info(1064);
    info.Header().biSize = 40;
    info.Header().biBitCount = 8;
    FillGrayTable(info.Colors());
    if (GetParam().ColouredEntry >= 0)
        info.Colors()[GetParam().ColouredEntry] = RGBQUAD{0, 0, 255, 0};
    EXPECT_EQ(PaletteKindOfInfo(info.Get()), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Tables, PaletteKindTest,
                         ::testing::Values(TKindCase{"AllGrey", -1, pkGray256},
                                           TKindCase{"LowEnd", 3, pkGray236},
                                           TKindCase{"Entry9", 9, pkGray236},
                                           TKindCase{"HighEnd", 250, pk256Colors},
                                           TKindCase{"Middle10", 10, pk256Colors},
                                           TKindCase{"Middle245", 245, pk256Colors}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(ColorTableTest, Grey236RampAndItsInverse) {
    RGBQUAD t[256], inv[256];
    FillSystemGrayTable(t);
    FillSystemInvGrayTable(inv);
    EXPECT_EQ(t[10].rgbRed, 0);
    EXPECT_EQ(t[245].rgbRed, 255);
    EXPECT_EQ(t[10 + 117].rgbRed, 127);  // MulDiv(117, 255, 235) = 126.96 -> 127
    for (int k = 0; k < 236; ++k) {
        EXPECT_EQ(inv[10 + k].rgbRed, 255 - t[10 + k].rgbRed);
        EXPECT_EQ(inv[10 + k].rgbRed, inv[10 + k].rgbBlue);
    }
    // Static colours at the ends, in blue-green-red order: entry 1 is dark red, 246 is the
    // cream (FF FB F0).
    EXPECT_EQ(t[1].rgbRed, 0x80);
    EXPECT_EQ(t[1].rgbBlue, 0);
    EXPECT_EQ(t[246].rgbRed, 0xFF);
    EXPECT_EQ(t[246].rgbGreen, 0xFB);
    EXPECT_EQ(t[246].rgbBlue, 0xF0);
    EXPECT_EQ(std::memcmp(t, inv, 40), 0);
}

TEST(ColorTableTest, SixteenColourTableSkipsTheMiddleStaticColours) {
    RGBQUAD t[16];
    Fill16ColorTable(t);
    EXPECT_EQ(t[7].rgbRed, 0xC0);  // static colour 7
    EXPECT_EQ(t[8].rgbRed, 0x80);  // static colour 12
    EXPECT_EQ(t[8].rgbGreen, 0x80);
    EXPECT_EQ(t[15].rgbBlue, 0xFF);  // white
}

TEST(ColorTableTest, PaletteOfInfoNeverReadsPastTheTable) {
    TDibInfo info(48);
    info.Header().biSize = 40;
    info.Header().biBitCount = 1;
    info.Header().biClrUsed = 1000;  // hostile: more than the table holds
    const auto palette = CreatePaletteOfInfo(info.Get());
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(palette->Entries().size(), 2u);

    TDibInfo wrongSize(48);
    wrongSize.Header().biSize = 12;
    EXPECT_EQ(CreatePaletteOfInfo(wrongSize.Get()), nullptr);
}

// ---------------------------------------------------------------------------------------
// AssignDIB

std::vector<std::uint8_t> PackedDib(int width, int height, int bits, std::uint8_t fill) {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<std::uint16_t>(bits);
    const std::size_t table = bits <= 8 ? (4u << bits) : 0;
    const std::uint64_t image =
        DibBytesPerLine(width, bits) * static_cast<std::uint64_t>(std::abs(height));
    std::vector<std::uint8_t> dib(40 + table + image, fill);
    std::memcpy(dib.data(), &h, 40);
    for (std::size_t i = 0; i < table / 4; ++i) {
        const auto g = static_cast<std::uint8_t>(255 - i);
        dib[40 + 4 * i] = g;
        dib[40 + 4 * i + 1] = g;
        dib[40 + 4 * i + 2] = g;
        dib[40 + 4 * i + 3] = 0;
    }
    return dib;
}

TEST(AssignDibTest, CopiesHeaderTableAndBits) {
    const auto dib = PackedDib(7, 3, 8, 0x5A);
    TFakePicture p;
    int changes = 0;
    p.OnChange = [&](TDibPicture&) { ++changes; };
    p.AssignDIB(dib);
    EXPECT_EQ(p.Width(), 7);
    EXPECT_EQ(p.Height(), 3);
    EXPECT_EQ(p.PaletteKind(), pkGray256);  // an inverted ramp is grey everywhere
    EXPECT_EQ(p.Info()->Colors()[0].rgbRed, 255);
    EXPECT_EQ(p.Section()->Colors()[0].rgbRed, 255);
    EXPECT_EQ(p.Bits()[5], 0x5A);
    EXPECT_EQ(changes, 1);
}

TEST(AssignDibTest, RefusesBadHeadersWithTheirMessages) {
    struct TCase {
        std::vector<std::uint8_t> Dib;
        TResString Message;
        const char* Argument = "";  // a value the message names
    };
    auto sixteen = PackedDib(4, 4, 8, 0);
    sixteen[14] = 16;
    auto core = PackedDib(4, 4, 8, 0);
    core[0] = 12;
    auto truncated = PackedDib(64, 64, 24, 0);
    truncated.resize(truncated.size() - 1);
    auto shortTable = PackedDib(4, 4, 8, 0);
    shortTable.resize(40 + 100);
    const TCase cases[] = {
        {std::vector<std::uint8_t>(39, 0), SInvalidDibPointer},
        {core, SInvalidDibHandle},
        {sixteen, SDibBitCountFormat, "BitCount=16"},
        {truncated, SInvalidDibPointer},
        {shortTable, SInvalidDibPointer},
    };
    for (const TCase& c : cases) {
        TFakePicture p;
        try {
            p.AssignDIB(c.Dib);
            ADD_FAILURE() << c.Message.Text;
        } catch (const EPixError& e) {
            EXPECT_TRUE(test::IsMessage({e.Id, e.what()}, c.Message, c.Argument));
        }
    }
}

// ---------------------------------------------------------------------------------------
// Description

TEST(DescriptionTest, ChangesMarkModifiedAndEmptyRemovesTheTag) {
    TFakePicture p(2, 2, pkGray256);
    p.SetDescription("");
    EXPECT_FALSE(p.Modified());
    p.SetDescription("Probe 7");
    EXPECT_TRUE(p.Modified());
    EXPECT_EQ(p.Description(), "Probe 7");
    EXPECT_GE(p.Fields().IndexOfTag(270), 0);
    p.SetDescription("");
    EXPECT_EQ(p.Fields().IndexOfTag(270), -1);
}

TEST(DescriptionTest, ReadingConvertsMacUmlauts) {
    TFakePicture p(2, 2, pkGray256);
    p.Fields().SetAscii(270,
                        "Gr\x9a\xa7"
                        "e");
    EXPECT_EQ(p.Description(),
              "Gr\xf6\xdf"
              "e");
    p.SetDescription(
        "Gr\xf6\xdf"
        "e");  // the same text once converted
    EXPECT_FALSE(p.Modified());
}

// ---------------------------------------------------------------------------------------
// Load sequence

TEST(LoadSequenceTest, FiresEventsInOrderAndReportsAFurtherImage) {
    const std::string first = FakeImage(4, 2, pkGray256, 0, 0x11);
    const std::string file = first + FakeImage(3, 3, pkMono, 0, 0xFF).substr(2);
    std::string withNext = file;
    const std::uint32_t next = static_cast<std::uint32_t>(first.size());
    for (int i = 0; i < 4; ++i) withNext[7 + i] = static_cast<char>((next >> (8 * i)) & 0xFF);

    TMemoryStream stream(
        std::span(reinterpret_cast<const std::uint8_t*>(withNext.data()), withNext.size()));
    TFakePicture p;
    std::vector<std::string> events;
    p.OnHeader = [&](TDibPicture& sender, const BITMAPINFO* info) {
        EXPECT_EQ(info, sender.Info()->Get());
        EXPECT_EQ(sender.Section(), nullptr);
        events.push_back("header");
    };
    p.OnLoaded = [&](TDibPicture&) { events.push_back("loaded"); };
    p.OnChange = [&](TDibPicture&) { events.push_back("change"); };
    p.ReadFileHeader(stream);
    EXPECT_TRUE(p.LoadFromStream(stream));
    EXPECT_EQ(stream.Position(), next);
    EXPECT_EQ((std::vector<std::string>{"header", "loaded", "change"}), events);
    EXPECT_EQ(p.Bits()[0], 0x11);

    EXPECT_FALSE(p.LoadFromStream(stream));
    EXPECT_EQ(p.Width(), 3);
    EXPECT_EQ(p.DetectPaletteKind(), pkMono);
    EXPECT_EQ(stream.Position(), stream.Size());
}

TEST(LoadSequenceTest, ReentryFromAProgressHandlerDoesNothing) {
    test::TTempDir dir;
    const std::string path = dir.File("a.fk");
    test::WriteFile(path, FakeImage(8, 4, pkGray256, 0, 7));
    TFakePicture p;
    int inner = 0;
    p.OnProgress = [&](TDibPicture& sender, int, int, int, bool&) {
        sender.LoadFromFile(path);  // ignored while loading
        TMemoryStream other;
        EXPECT_FALSE(sender.LoadFromStream(other));
        ++inner;
    };
    p.LoadFromFile(path);
    EXPECT_EQ(inner, 4);
    EXPECT_EQ(p.RowsReadCalls, 1);
    EXPECT_FALSE(p.Loading());
    EXPECT_EQ(p.FileName(), path);
}

TEST(LoadSequenceTest, AbortFromTheHandlerStopsTheRowLoopAndAFailureResetsTheGuard) {
    test::TTempDir dir;
    const std::string path = dir.File("a.fk");
    test::WriteFile(path, FakeImage(8, 10, pkGray256, 0, 7));
    TFakePicture p;
    int reports = 0;
    p.OnProgress = [&](TDibPicture&, int, int, int, bool& abort) { abort = ++reports == 3; };
    p.LoadFromFile(path);
    EXPECT_EQ(reports, 3);

    const std::string truncated = FakeImage(8, 10, pkGray256, 0, 7).substr(0, 30);
    test::WriteFile(path, truncated);
    p.OnProgress = nullptr;
    EXPECT_THROW(p.LoadFromFile(path), EStreamError);
    EXPECT_FALSE(p.Loading());
    EXPECT_THROW(p.LoadFromFile(dir.File("missing.fk")), EOSError);
    EXPECT_FALSE(p.Loading());
}

// ---------------------------------------------------------------------------------------
// Saving never leaves a partial file

TEST(SaveTest, AFailedWriteLeavesTheTargetAsItWas) {
    test::TTempDir dir;
    const std::string path = dir.File("out.fk");
    TFakePicture p(4, 4, pkGray256);
    p.FailWrite = true;
    EXPECT_THROW(p.SaveToFile(path), EPixError);
    EXPECT_FALSE(std::filesystem::exists(path));
    test::WriteFile(path, "old");
    EXPECT_THROW(p.SaveToFile(path), EPixError);
    EXPECT_EQ(test::ReadFile(path), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);

    p.FailWrite = false;
    p.SetDescription("x");
    p.SaveToFile(path);
    EXPECT_FALSE(p.Modified());
    EXPECT_EQ(test::ReadFile(path).size(), 2 + 16u);
}

// ---------------------------------------------------------------------------------------
// 16-bit samples

TEST(Map16To8Test, SampleRowsBecomeImageRowsFromTheTop) {
    TFakePicture p(3, 2, pkGray236);  // bottom-up section
    p.CreateImgData16();
    ASSERT_NE(p.ImgData16(), nullptr);
    ASSERT_EQ(p.ImgData16()->Size(), 12);
    const std::uint16_t samples[6] = {1000, 2000, 3000, 3000, 3000, 999};
    std::memcpy(p.ImgData16()->Words(), samples, sizeof samples);
    p.ImgData16()->ComputeMinMax();
    EXPECT_EQ(p.ImgData16()->Min, 999);
    p.ImgData16()->BuildTable(1000, 3000, 10, 245);
    p.Map16To8();
    const std::uint8_t* top = p.Section()->Row(0);
    const std::uint8_t* bottom = p.Section()->Row(1);
    EXPECT_EQ(top, p.Bits() + 4);  // bottom-up: the top row is the last in memory
    EXPECT_EQ(top[0], 10);
    EXPECT_EQ(top[1], 128);
    EXPECT_EQ(top[2], 245);
    EXPECT_EQ(bottom[2], 10);
}

TEST(Map16To8Test, DoesNothingWithoutAStoreOrOnTrueColour) {
    TFakePicture p(2, 2, pkTrueColor);
    p.Map16To8();
    p.CreateImgData16();
    std::memset(p.ImgData16()->Words(), 0xFF, 8);
    p.ImgData16()->BuildTable(0, 10, 10, 245);
    p.Map16To8();
    for (std::uint64_t i = 0; i < p.ImageSize(); ++i) EXPECT_EQ(p.Bits()[i], 0);
}

// ---------------------------------------------------------------------------------------
// Palettes and drawing

TEST(PaletteTest, CopyPaletteRecoloursAndRedetectsTheKind) {
    TFakePicture src(2, 2, pkGray256);
    src.Info()->Colors()[100] = RGBQUAD{0, 0, 255, 0};
    TFakePicture dst(2, 2, pkGray256);
    dst.CopyPalette(&src);
    EXPECT_EQ(int(dst.PaletteKind()), int(pk256Colors));
    EXPECT_EQ(std::memcmp(dst.Info()->Colors(), src.Info()->Colors(), 1024), 0);
    EXPECT_EQ(std::memcmp(dst.Section()->Colors(), src.Info()->Colors(), 1024), 0);
    EXPECT_EQ(dst.Canvas().Palette(), dst.Palette());

    TFakePicture mono(2, 2, pkMono);
    dst.CopyPalette(&mono);  // other bit count: nothing
    EXPECT_EQ(int(dst.PaletteKind()), int(pk256Colors));
}

TEST(PaletteTest, ReplacedPaletteIsNeverLeftSelected) {
    TFakePicture p(2, 2, pkGray256);
    p.SetPalette(CreateHalftonePalette());
    EXPECT_EQ(p.Canvas().Palette(), p.Palette());
    p.Clear();
    EXPECT_EQ(p.Canvas().Palette(), nullptr);
    EXPECT_EQ(p.Canvas().Bitmap(), nullptr);
}

TEST(DrawTest, DrawAndStretchDrawReachTheTarget) {
    TFakePicture src(4, 2, pkGray256);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            src.Bits()[(1 - y) * 4 + x] = static_cast<std::uint8_t>(y * 100 + x);
    TFakePicture same(4, 2, pkGray256);
    src.Draw(same.Canvas(), 0, 0, false);
    EXPECT_EQ(std::memcmp(same.Bits(), src.Bits(), 8), 0);

    TFakePicture big(8, 4, pkTrueColor);
    src.StretchDraw(big.Canvas(), TRect{0, 0, 8, 4}, false);
    // The screen has 32 bits per pixel, so the stretch is colour-on-colour.
    EXPECT_EQ(big.Canvas().GetStretchBltMode(), COLORONCOLOR);
    EXPECT_EQ(big.Section()->Row(3)[3 * 7], 103);  // bottom-right pixel, blue
    EXPECT_EQ(big.Section()->Row(0)[0], 0);
    EXPECT_EQ(big.Canvas().Palette(), big.Palette());
}

TEST(DrawTest, AReductionAveragesInsteadOfPickingPixels) {
    // A grating of one-pixel black and white columns: picking pixels would give a black or
    // white thumbnail (or stripes); averaging 3.6 columns per target pixel gives mid grey.
    TFakePicture grating(400, 8, pkGray256);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 400; ++x) grating.Bits()[y * 400 + x] = x % 2 ? 255 : 0;
    TFakePicture thumb(112, 2, pkGray256);
    grating.StretchDraw(thumb.Canvas(), TRect{0, 0, 112, 2}, true);
    EXPECT_EQ(thumb.Canvas().GetStretchBltMode(), HALFTONE);
    for (int x = 0; x < 112; ++x) {
        EXPECT_GE(thumb.Section()->Row(0)[x], 100) << x;
        EXPECT_LE(thumb.Section()->Row(0)[x], 155) << x;
    }
}

}  // namespace
}  // namespace pix
