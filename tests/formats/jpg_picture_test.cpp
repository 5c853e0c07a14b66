// SPDX-License-Identifier: MIT
#include "formats/jpg_picture.h"

#include "jpeg_encoder.h"
#include "test_support.h"

#include "imaging/stream.h"
#include "platform/error.h"
#include "platform/res_strings.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace pix {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(int width, int height, int components, J_COLOR_SPACE space, const Bytes& samples,
             int quality = 95, bool adobe = false) {
    return test::EncodeJpeg(width, height, components, space, samples, quality, adobe);
}

// libjpeg's own decode to BGR (or grey) rows, top row first.
Bytes Decode(const Bytes& file, bool grey) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    const std::size_t stride = std::size_t{info.output_width} * info.output_components;
    Bytes pixels(stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + info.output_scanline * stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return pixels;
}

Bytes Gradient(int width, int height, int components) {
    Bytes s(static_cast<std::size_t>(width) * height * components);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c)
                s[(static_cast<std::size_t>(y) * width + x) * components + c] =
                    static_cast<std::uint8_t>(x * 7 + y * 3 + c * 80);
    return s;
}

void Load(TJpgPicture& picture, const Bytes& file) {
    TSpanStream stream(file);
    picture.ReadFileHeader(stream);
    picture.LoadFromStream(stream);
}

// Every row of the picture against libjpeg's decode.
void ExpectSameRows(const TDibPicture& picture, const Bytes& expected, int bytesPerPixel) {
    const std::size_t rowBytes = static_cast<std::size_t>(picture.Width()) * bytesPerPixel;
    for (int y = 0; y < picture.Height(); ++y)
        ASSERT_EQ(std::memcmp(picture.Section()->Row(y), expected.data() + y * rowBytes, rowBytes),
                  0)
            << "row " << y;
}

class JpgPictureTest : public ::testing::Test {};

TEST_F(JpgPictureTest, GreyscaleBecomes8BitWithTheGreyRamp) {
    const Bytes file = Encode(21, 13, 1, JCS_GRAYSCALE, Gradient(21, 13, 1));
    TJpgPicture picture;
    Load(picture, file);
    ASSERT_EQ(picture.BitCount(), 8);
    EXPECT_EQ(picture.PaletteKind(), pkGray256);
    EXPECT_EQ(picture.DetectPaletteKind(), pkGray256);
    for (int i : {0, 10, 128, 255}) EXPECT_EQ(picture.Info()->Colors()[i].rgbGreen, i);
    ExpectSameRows(picture, Decode(file, true), 1);
}

TEST_F(JpgPictureTest, ColourBecomes24BitWithHalftonePaletteAndLibjpegsPixels) {
    const Bytes file = Encode(37, 19, 3, JCS_RGB, Gradient(37, 19, 3));
    TJpgPicture picture;
    std::vector<int> percents;
    picture.OnProgress = [&](TDibPicture&, int first, int count, int percent, bool&) {
        EXPECT_EQ(first, 1);
        EXPECT_EQ(count, 1);
        percents.push_back(percent);
    };
    Load(picture, file);
    ASSERT_EQ(picture.BitCount(), 24);
    EXPECT_EQ(picture.PaletteKind(), pkTrueColor);
    ASSERT_NE(picture.Palette(), nullptr);
    EXPECT_TRUE(picture.Palette()->IsHalftone());
    EXPECT_EQ(percents, std::vector<int>{100});
    // The decoded raster is the one the canvas draws from and Bits() addresses.
    EXPECT_EQ(picture.Canvas().Bitmap(), picture.Section());
    EXPECT_EQ(picture.Bits(), picture.Section()->Bits());
    ExpectSameRows(picture, Decode(file, false), 3);
}

// Adobe writers store CMYK inverted; each pure ink must come out as its RGB colour.
TEST_F(JpgPictureTest, AdobeCmykIsConvertedToRgb) {
    struct TInk {
        std::uint8_t C, M, Y, K;
        std::uint8_t R, G, B;
    };
    const TInk inks[] = {{0, 0, 0, 0, 255, 255, 255}, {255, 0, 0, 0, 0, 255, 255},
                         {0, 255, 0, 0, 255, 0, 255}, {0, 0, 255, 0, 255, 255, 0},
                         {0, 0, 0, 255, 0, 0, 0},     {0, 0, 0, 128, 127, 127, 127}};
    // One 8x8 block per ink, stored inverted as Adobe files do.
    const int width = 8 * static_cast<int>(std::size(inks));
    Bytes samples(static_cast<std::size_t>(width) * 8 * 4);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < width; ++x) {
            const TInk& ink = inks[x / 8];
            std::uint8_t* s = &samples[(static_cast<std::size_t>(y) * width + x) * 4];
            s[0] = 255 - ink.C;
            s[1] = 255 - ink.M;
            s[2] = 255 - ink.Y;
            s[3] = 255 - ink.K;
        }
    const Bytes file = Encode(width, 8, 4, JCS_CMYK, samples, 100, true);
    TJpgPicture picture;
    Load(picture, file);
    ASSERT_EQ(picture.BitCount(), 24);
    for (std::size_t i = 0; i < std::size(inks); ++i) {
        const std::uint8_t* px = picture.Section()->Row(4) + 3 * (8 * i + 4);
        EXPECT_NEAR(px[2], inks[i].R, 2) << "ink " << i;
        EXPECT_NEAR(px[1], inks[i].G, 2) << "ink " << i;
        EXPECT_NEAR(px[0], inks[i].B, 2) << "ink " << i;
    }
}

TEST_F(JpgPictureTest, CorruptDataRaisesLibjpegsMessageAndThePictureCanLoadAgain) {
    const Bytes good = Encode(16, 16, 3, JCS_RGB, Gradient(16, 16, 3));
    Bytes bad = good;
    bad[0] = 0x00;  // no SOI marker
    TJpgPicture picture;
    Load(picture, good);
    try {
        Load(picture, bad);
        FAIL() << "no exception";
    } catch (const EPixError& e) {
        EXPECT_EQ(e.Id, SJpegError.Id);
        EXPECT_NE(std::string(e.what()).find("Not a JPEG file: starts with 0x00 0xd8"),
                  std::string::npos);
    }
    EXPECT_FALSE(picture.Loading());
    Load(picture, good);
    EXPECT_EQ(picture.Width(), 16);
    ExpectSameRows(picture, Decode(good, false), 3);

    EXPECT_THROW(Load(picture, Bytes{}), EPixError);
    const Bytes twelveBytes(good.begin(), good.begin() + 12);
    EXPECT_THROW(Load(picture, twelveBytes), EPixError);
}

TEST_F(JpgPictureTest, TruncatedFileKeepsThePartlyDecodedImage) {
    const Bytes file = Encode(64, 64, 3, JCS_RGB, Gradient(64, 64, 3));
    const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() * 2 / 3));
    TJpgPicture picture;
    Load(picture, cut);
    EXPECT_EQ(picture.Width(), 64);
    EXPECT_EQ(picture.Height(), 64);
    // The top rows arrived; they equal the full decode's.
    const Bytes full = Decode(file, false);
    EXPECT_EQ(std::memcmp(picture.Section()->Row(0), full.data(), 64 * 3), 0);
}

TEST_F(JpgPictureTest, QualityIsClampedTo1Through100) {
    TJpgPicture picture(24, 16, pkTrueColor);
    for (std::uint64_t i = 0; i < picture.ImageSize(); ++i)
        picture.Bits()[i] = static_cast<std::uint8_t>(i * 13);
    auto save = [&](int quality) {
        picture.SetQuality(quality);
        TMemoryStream stream;
        picture.WriteFileHeader(stream);
        picture.WriteData(stream, false);
        return stream.Data();
    };
    EXPECT_EQ(save(0), save(1));
    EXPECT_EQ(save(-5), save(1));
    EXPECT_EQ(save(150), save(100));
    EXPECT_NE(save(1), save(100));
}

TEST_F(JpgPictureTest, SavedPaletteImageReadsBackAsColour) {
    TJpgPicture picture(16, 16, pkGray256);
    // Bottom-up rows: memory row r is picture row 15 - r.
    for (int r = 0; r < 16; ++r) std::memset(picture.Bits() + r * 16, (15 - r) * 16, 16);
    test::TTempDir dir;
    const std::string path = dir.File("grey.jpg");
    picture.SetQuality(100);
    picture.SaveToFile(path);

    TJpgPicture back;
    back.LoadFromFile(path);
    // Greyscale output is off when writing, so the file is a colour JPEG.
    ASSERT_EQ(back.BitCount(), 24);
    for (int y = 0; y < 16; y += 5) {
        const std::uint8_t* px = back.Section()->Row(y) + 3 * 8;
        EXPECT_NEAR(px[0], y * 16, 3);
        EXPECT_NEAR(px[2], y * 16, 3);
    }
}

// ---- Reduced decoding for a box ----

struct TScaleCase {
    int Width, Height, BoxWidth, BoxHeight, Expect;
};

class JpegScaleTest : public ::testing::TestWithParam<TScaleCase> {};

TEST_P(JpegScaleTest, LargestReductionThatStillCoversTheBox) {
    const TScaleCase& c = GetParam();
    EXPECT_EQ(JpegScaleDenominator(c.Width, c.Height, c.BoxWidth, c.BoxHeight), c.Expect);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JpegScaleTest,
    ::testing::Values(TScaleCase{4000, 3000, 112, 96, 8},  // 500 × 375
                      TScaleCase{800, 600, 112, 96, 4},    // 1/8 gives 100 wide
                      TScaleCase{300, 200, 112, 96, 2},    // 150 × 100
                      TScaleCase{897, 769, 112, 96, 8},    // 112.1 × 96.1 round up to fit
                      TScaleCase{890, 760, 112, 96, 4},    // 95 high at 1/8
                      TScaleCase{1000, 100, 112, 96, 1},   // the short side forbids any
                      TScaleCase{112, 96, 112, 96, 1},     // exactly the box
                      TScaleCase{50, 40, 112, 96, 1},      // smaller than the box
                      TScaleCase{4000, 3000, 0, 0, 1}));   // no box: full size

TEST_F(JpgPictureTest, DecodeBoxLoadsReducedAndKeepsTheFullSize) {
    const Bytes file = Encode(203, 101, 3, JCS_RGB, Gradient(203, 101, 3));
    TJpgPicture reduced;
    reduced.SetDecodeBox(40, 20);
    Load(reduced, file);
    // 1/4: 203 / 4 and 101 / 4 rounded up; 1/8 would give 13 rows.
    EXPECT_EQ(reduced.Width(), 51);
    EXPECT_EQ(reduced.Height(), 26);
    EXPECT_TRUE(reduced.DecodedReduced());
    EXPECT_EQ(reduced.FullWidth(), 203);
    EXPECT_EQ(reduced.FullHeight(), 101);
    EXPECT_EQ(reduced.FullImageSize(), std::uint64_t{612} * 101);  // 609 padded to 612
    EXPECT_EQ(reduced.ImageSize(), std::uint64_t{156} * 26);

    // The same picture object loads at full size once the box is gone.
    reduced.SetDecodeBox(0, 0);
    Load(reduced, file);
    EXPECT_EQ(reduced.Width(), 203);
    EXPECT_FALSE(reduced.DecodedReduced());
    EXPECT_EQ(reduced.FullImageSize(), reduced.ImageSize());
    ExpectSameRows(reduced, Decode(file, false), 3);
}

TEST_F(JpgPictureTest, GreyPictureDecodesReducedToo) {
    const Bytes file = Encode(640, 480, 1, JCS_GRAYSCALE, Gradient(640, 480, 1));
    TJpgPicture picture;
    picture.SetDecodeBox(112, 96);
    Load(picture, file);
    EXPECT_EQ(picture.Width(), 160);
    EXPECT_EQ(picture.Height(), 120);
    EXPECT_EQ(picture.BitCount(), 8);
    EXPECT_EQ(picture.FullImageSize(), std::uint64_t{640} * 480);
}

// A header claiming 65000 × 40000 pixels: 1/8 of it would fit in memory, the full size
// does not, and a reduced load is refused just as a full one is, before any allocation.
TEST_F(JpgPictureTest, ReducedLoadRefusesWhatAFullLoadRefuses) {
    Bytes file = Encode(16, 16, 3, JCS_RGB, Gradient(16, 16, 3));
    std::size_t sof = 0;
    while (sof + 9 < file.size() && !(file[sof] == 0xFF && file[sof + 1] == 0xC0)) ++sof;
    ASSERT_LT(sof + 9, file.size());
    file[sof + 5] = 40000 >> 8;  // height, big-endian
    file[sof + 6] = 40000 & 0xFF;
    file[sof + 7] = 65000 >> 8;  // width
    file[sof + 8] = 65000 & 0xFF;
    for (const int box : {0, 112}) {
        TJpgPicture picture;
        picture.SetDecodeBox(box, box);
        try {
            Load(picture, file);
            FAIL() << "no exception for box " << box;
        } catch (const EPixError& e) {
            EXPECT_EQ(e.Id, SImageTooLarge.Id);
        }
    }
}

}  // namespace
}  // namespace pix
