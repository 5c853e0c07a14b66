// SPDX-License-Identifier: MIT
#include "tiff/tiff_reader.h"

#include "test_support.h"
#include "tests/tiff_builder.h"

#include "platform/error.h"
#include "platform/res_strings.h"
#include "tiff/lzw_encoder.h"
#include "tiff/tif_picture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace pix {
namespace {

using test::TTiffBuilder;
using TImage = TTiffBuilder::TImage;
using TEntry = TTiffBuilder::TEntry;

// A stream that does not hand out its bytes, so the reader has to seek and read.
class TOpaqueStream : public TStream {
public:
    explicit TOpaqueStream(const std::string& bytes)
        : FInner(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())) {}
    std::int64_t Read(void* buffer, std::int64_t count) override {
        return FInner.Read(buffer, count);
    }
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, int origin) override {
        return FInner.Seek(offset, origin);
    }
    std::int64_t Size() override { return FInner.Size(); }

private:
    TMemoryStream FInner;
};

std::string Build(TImage image, bool bigEndian = false) {
    TTiffBuilder b(bigEndian);
    b.Add(std::move(image));
    return b.Build();
}

TMemoryStream StreamOf(const std::string& bytes) {
    return TMemoryStream(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::unique_ptr<TTifPicture> LoadFrom(TStream& stream) {
    auto picture = std::make_unique<TTifPicture>();
    picture->ReadFileHeader(stream);
    picture->LoadFromStream(stream);
    return picture;
}

std::unique_ptr<TTifPicture> Load(const std::string& bytes) {
    TMemoryStream stream = StreamOf(bytes);
    return LoadFrom(stream);
}

// The message identifier of the EPixError loading `bytes` raises, -1 when it loads.
int ErrorOf(const std::string& bytes) {
    return test::Raised([&] { Load(bytes); }).Id;
}

// The colour of pixel (x, y), y counted from the top, as 0xRRGGBB.
std::uint32_t Rgb(const TDibPicture& picture, int x, int y) {
    const TDibSection& s = *picture.Section();
    const std::uint8_t* row = s.Row(y);
    RGBQUAD c;
    switch (s.BitCount()) {
        case 24:
            return std::uint32_t{row[3 * x + 2]} << 16 | std::uint32_t{row[3 * x + 1]} << 8 |
                   row[3 * x];
        case 8:
            c = s.Colors()[row[x]];
            break;
        case 4:
            c = s.Colors()[(row[x / 2] >> (x % 2 ? 0 : 4)) & 15];
            break;
        default:
            c = s.Colors()[(row[x / 8] >> (7 - x % 8)) & 1];
            break;
    }
    return std::uint32_t{c.rgbRed} << 16 | std::uint32_t{c.rgbGreen} << 8 | c.rgbBlue;
}

std::vector<std::uint32_t> AllRgb(const TDibPicture& picture) {
    std::vector<std::uint32_t> all;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) all.push_back(Rgb(picture, x, y));
    return all;
}

// Bytes of a literal, NULs included.
template <std::size_t N>
std::string S(const char (&text)[N]) {
    return std::string(text, N - 1);
}

void Set(TImage& image, TEntry entry) {
    for (auto& e : image.Entries)
        if (e.Tag == entry.Tag) {
            e = std::move(entry);
            return;
        }
    image.Entries.push_back(std::move(entry));
}

void Remove(TImage& image, std::uint16_t tag) {
    std::erase_if(image.Entries, [tag](const TEntry& e) { return e.Tag == tag; });
}

// A 4 × 2 image of 8-bit grey values 0, 40, 80, ...
TImage Grey8() { return TTiffBuilder::Simple(4, 2, {8}, 1, S("\x00\x28\x50\x78\xa0\xc8\xf0\xff")); }

// Builds an image whose strips the test places itself after the directory: `make` gets
// the offset where `trailer` will start and returns the image; the layout does not depend
// on the offset, so the file is built twice.
std::string WithTrailer(const std::function<TImage(std::uint32_t)>& make,
                        const std::string& trailer, bool bigEndian = false) {
    const std::size_t at = Build(make(0), bigEndian).size();
    return Build(make(static_cast<std::uint32_t>(at)), bigEndian) + trailer;
}

TImage Manual(int width, int height, std::uint16_t bits, int photometric,
              std::uint16_t compression) {
    TImage image;
    image.AutoStrips = false;
    image.Entries = {TTiffBuilder::Long(256, {static_cast<std::uint32_t>(width)}),
                     TTiffBuilder::Long(257, {static_cast<std::uint32_t>(height)}),
                     TTiffBuilder::Short(258, {bits}), TTiffBuilder::Short(259, {compression}),
                     TTiffBuilder::Short(262, {static_cast<std::uint16_t>(photometric)})};
    return image;
}

// ---------------------------------------------------------------------------------------
// File header

struct THeaderCase {
    const char* Name;
    std::string Bytes;
    const TResString* Error;  // nullptr: accepted
    bool BigEndian;
};

class TiffHeader : public testing::TestWithParam<THeaderCase> {};

TEST_P(TiffHeader, ChecksIdentifierVersionAndFirstOffset) {
    const THeaderCase& c = GetParam();
    std::string bytes = c.Bytes + std::string(32, '\0');
    TMemoryStream stream = StreamOf(bytes);
    bool big = !c.BigEndian;
    if (c.Error) {
        try {
            ReadTiffHeader(stream, big);
            FAIL() << "accepted";
        } catch (const EPixError& e) {
            EXPECT_EQ(e.Id, c.Error->Id);
        }
        return;
    }
    ReadTiffHeader(stream, big);
    EXPECT_EQ(big, c.BigEndian);
    EXPECT_EQ(stream.Position(), 16);
}

INSTANTIATE_TEST_SUITE_P(
    Tiff, TiffHeader,
    testing::Values(THeaderCase{"LittleEndian", std::string("II*\0\x10\0\0\0", 8), nullptr, false},
                    THeaderCase{"BigEndian", std::string("MM\0*\0\0\0\x10", 8), nullptr, true},
                    THeaderCase{"MixedMarks", std::string("IM*\0\x10\0\0\0", 8),
                                &SInvalidTiffIdentifier, false},
                    THeaderCase{"Version43", std::string("II+\0\x10\0\0\0", 8),
                                &SInvalidTiffIdentifier, false},
                    THeaderCase{"BigEndianVersionSwapped", std::string("MM*\0\0\0\0\x10", 8),
                                &SInvalidTiffIdentifier, false},
                    THeaderCase{"BigEndianFirstOffsetZero", std::string("MM\0*\0\0\0\0", 8),
                                &SMissingIfdEntry, false},
                    THeaderCase{"FirstOffsetPastTheEnd", std::string("II*\0\0\1\0\0", 8),
                                &SMissingIfdEntry, false}),
    [](const testing::TestParamInfo<THeaderCase>& info) { return info.param.Name; });

TEST(TiffHeaderTest, ShortFileIsNoTiff) {
    TMemoryStream stream = StreamOf(std::string("II*\0", 4));
    bool big = false;
    EXPECT_THROW(ReadTiffHeader(stream, big), EPixError);
}

// ---------------------------------------------------------------------------------------
// Refusals, in the order the checks run

struct TRefusal {
    const char* Name;
    std::function<void(TImage&)> Change;
    TResString Message;
};

class TiffRefusal : public testing::TestWithParam<TRefusal> {};

TEST_P(TiffRefusal, RaisesItsMessage) {
    TImage image = Grey8();
    GetParam().Change(image);
    EXPECT_EQ(ErrorOf(Build(image)), GetParam().Message.Id);
    EXPECT_EQ(ErrorOf(Build(image, true)), GetParam().Message.Id) << "big-endian";
}

using B = TTiffBuilder;

INSTANTIATE_TEST_SUITE_P(
    Tiff, TiffRefusal,
    testing::Values(
        TRefusal{"NoWidth", [](TImage& i) { Remove(i, 256); }, SMissingImageWidth},
        TRefusal{"NoHeight", [](TImage& i) { Remove(i, 257); }, SMissingImageHeight},
        TRefusal{"Ccitt", [](TImage& i) { Set(i, B::Short(259, {2})); }, SCcittNotSupported},
        TRefusal{"Fax3", [](TImage& i) { Set(i, B::Short(259, {3})); }, SFax3NotSupported},
        TRefusal{"Fax4", [](TImage& i) { Set(i, B::Short(259, {4})); }, SFax4NotSupported},
        TRefusal{"Jpeg", [](TImage& i) { Set(i, B::Short(259, {6})); },
                 SJpegCompressionNotSupported},
        TRefusal{"Packbits", [](TImage& i) { Set(i, B::Short(259, {32773})); },
                 SPackbitsNotSupported},
        TRefusal{"Deflate", [](TImage& i) { Set(i, B::Short(259, {8})); }, SUnknownCompression},
        TRefusal{"FillOrder2", [](TImage& i) { Set(i, B::Short(266, {2})); },
                 SFillOrderNotSupported},
        TRefusal{"Planar2", [](TImage& i) { Set(i, B::Short(284, {2})); }, SPlanarNotSupported},
        TRefusal{"ExtraAlpha", [](TImage& i) { Set(i, B::Short(338, {2})); },
                 SExtraSamplesNotSupported},
        TRefusal{"TileWidth", [](TImage& i) { Set(i, B::Long(322, {16})); }, STiledNotSupported},
        TRefusal{"TileLength", [](TImage& i) { Set(i, B::Short(323, {16})); }, STiledNotSupported},
        TRefusal{"NoStripOffsets",
                 [](TImage& i) {
                     i.AutoStrips = false;
                     i.Strips.clear();
                 },
                 SMissingStripOffsets},
        TRefusal{"TwoStripsNoCounts",
                 [](TImage& i) {
                     i.AutoStrips = false;
                     Set(i, B::Long(273, {8, 8}));
                 },
                 SMissingStripByteCounts},
        TRefusal{"CountsDiffer",
                 [](TImage& i) {
                     i.AutoStrips = false;
                     Set(i, B::Long(273, {8, 8}));
                     Set(i, B::Long(279, {4, 4, 4}));
                 },
                 SInvalidStripData},
        TRefusal{"Mask", [](TImage& i) { Set(i, B::Short(262, {4})); },
                 STransparencyMaskNotSupported},
        TRefusal{"Cmyk", [](TImage& i) { Set(i, B::Short(262, {5})); }, SCmykNotSupported},
        TRefusal{"YCbCr", [](TImage& i) { Set(i, B::Short(262, {6})); }, SYCbCrNotSupported},
        TRefusal{"CieLab", [](TImage& i) { Set(i, B::Short(262, {8})); }, SCieLabNotSupported},
        TRefusal{"Bits2", [](TImage& i) { Set(i, B::Short(258, {2})); }, STiffFormatNotSupported},
        TRefusal{"Bits12", [](TImage& i) { Set(i, B::Short(258, {12})); }, STiffFormatNotSupported},
        TRefusal{"Lzw16",
                 [](TImage& i) {
                     Set(i, B::Short(258, {16}));
                     Set(i, B::Short(259, {5}));
                 },
                 SLzw16NotSupported},
        TRefusal{"Palette1Bit",
                 [](TImage& i) {
                     Set(i, B::Short(258, {1}));
                     Set(i, B::Short(262, {3}));
                 },
                 SInvalidColorInformation},
        TRefusal{"PaletteNoMap", [](TImage& i) { Set(i, B::Short(262, {3})); }, SMissingColorMap},
        TRefusal{"Palette16",
                 [](TImage& i) {
                     Set(i, B::Short(258, {16}));
                     Set(i, B::Short(262, {3}));
                 },
                 SPalette16NotSupported},
        TRefusal{"OneSampleRgb", [](TImage& i) { Set(i, B::Short(262, {2})); },
                 SPhotometricNotSupported},
        TRefusal{"OneSampleItuLab", [](TImage& i) { Set(i, B::Short(262, {10})); },
                 SPhotometricNotSupported},
        TRefusal{"TwoSamples",
                 [](TImage& i) {
                     Set(i, B::Short(258, {8, 8}));
                 },
                 SRgbSamplesPerPixel},
        TRefusal{"Rgb16",
                 [](TImage& i) {
                     Set(i, B::Short(258, {8, 16, 8}));
                 },
                 SRgbBitsPerSample},
        TRefusal{"RgbFourSamples",
                 [](TImage& i) {
                     Set(i, B::Short(258, {8, 8, 8}));
                     Set(i, B::Short(277, {4}));
                     Set(i, B::Short(262, {2}));
                 },
                 SRgbSamplesPerPixel},
        TRefusal{"RgbAsGrey",
                 [](TImage& i) {
                     Set(i, B::Short(258, {8, 8, 8}));
                 },
                 SInvalidColorInformation},
        TRefusal{"SignedSamples", [](TImage& i) { Set(i, B::Short(339, {2})); },
                 SSampleFormatNotSupported},
        TRefusal{"FloatBlue",
                 [](TImage& i) {
                     Set(i, B::Short(258, {8, 8, 8}));
                     Set(i, B::Short(262, {2}));
                     Set(i, B::Short(339, {1, 1, 3}));
                 },
                 SSampleFormatNotSupported},
        TRefusal{"ZeroWidth", [](TImage& i) { Set(i, B::Long(256, {0})); }, SInvalidImageSize},
        // Several faults: the first check in order decides.
        TRefusal{"CompressionBeforeFillOrder",
                 [](TImage& i) {
                     Set(i, B::Short(266, {2}));
                     Set(i, B::Short(259, {32773}));
                 },
                 SPackbitsNotSupported},
        TRefusal{"PhotometricBeforeBits",
                 [](TImage& i) {
                     Set(i, B::Short(258, {5}));
                     Set(i, B::Short(262, {5}));
                 },
                 SCmykNotSupported}),
    [](const testing::TestParamInfo<TRefusal>& info) { return info.param.Name; });

TEST(TiffReaderTest, StripOutsideTheFileIsAnError) {
    const std::string file = WithTrailer(
        [](std::uint32_t) {
            TImage i = Manual(4, 2, 8, 1, 1);
            i.Entries.push_back(B::Long(273, {100000}));
            return i;
        },
        "");
    EXPECT_EQ(ErrorOf(file), SStripOutsideFile.Id);
}

// ---------------------------------------------------------------------------------------
// Decoding

// The same picture in both byte orders, for every kind of image the reader supports.
struct TKind {
    const char* Name;
    std::function<TImage()> Make;
    std::vector<std::uint32_t> Expected;  // RGB of every pixel, top row first
};

class TiffByteOrder : public testing::TestWithParam<TKind> {};

TEST_P(TiffByteOrder, BothOrdersGiveTheSamePicture) {
    const auto little = Load(Build(GetParam().Make(), false));
    const auto big = Load(Build(GetParam().Make(), true));
    EXPECT_EQ(AllRgb(*little), GetParam().Expected);
    EXPECT_EQ(AllRgb(*big), GetParam().Expected);
}

TImage Palette4() {
    TImage i = B::Simple(3, 2, {4}, 3, "\x01\x20\x23\x10");
    std::vector<std::uint16_t> map(48, 0);
    map[1] = 0xFF00;       // red of entry 1
    map[16 + 2] = 0x8000;  // green of entry 2
    map[32 + 3] = 0x40FF;  // blue of entry 3
    i.Entries.push_back(B::Short(320, map));
    return i;
}

TImage Rgb24() {
    return B::Simple(2, 2, {8, 8, 8}, 2, "\x10\x20\x30\x40\x50\x60\x70\x80\x90\xa0\xb0\xc0");
}

TImage Lzw8Predictor() {
    // 5 × 3, differences of 3 along each row; two strips of 2 and 1 rows.
    TImage i = Manual(5, 3, 8, 1, 5);
    const std::string rows[3] = {std::string("\x0a\x03\x03\x03\x03", 5),
                                 std::string("\x64\x03\x03\x03\x03", 5),
                                 std::string("\xc8\x03\x03\x03\x03", 5)};
    i.Strips = {test::LzwEncode(rows[0] + rows[1]), test::LzwEncode(rows[2])};
    i.AutoStrips = true;
    i.Entries.push_back(B::Long(278, {2}));
    i.Entries.push_back(B::Short(317, {2}));
    return i;
}

std::vector<std::uint32_t> Greys(std::initializer_list<int> levels) {
    std::vector<std::uint32_t> v;
    for (int g : levels) v.push_back(static_cast<std::uint32_t>(g * 0x010101));
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Tiff, TiffByteOrder,
    testing::Values(
        TKind{"Grey8", Grey8, Greys({0, 40, 80, 120, 160, 200, 240, 255})},
        TKind{"WhiteIsZero8", [] { return B::Simple(2, 1, {8}, 0, S("\x00\x40")); },
              Greys({255, 191})},
        TKind{"NoPhotometricIsBlackIsZero",
              [] {
                  TImage i = B::Simple(2, 1, {8}, 1, S("\x00\x40"));
                  Remove(i, 262);
                  return i;
              },
              Greys({0, 64})},
        // Width 10: two bytes per row; BlackIsZero.
        TKind{"Bilevel10", [] { return B::Simple(10, 1, {1}, 1, "\xa0\x40"); },
              Greys({255, 0, 255, 0, 0, 0, 0, 0, 0, 255})},
        TKind{"Grey4", [] { return B::Simple(3, 1, {4}, 1, "\x0f\x50"); }, Greys({0, 255, 85})},
        TKind{"Palette4", Palette4, {0x000000, 0xFF0000, 0x008000, 0x008000, 0x000040, 0xFF0000}},
        TKind{"Rgb", Rgb24, {0x102030, 0x405060, 0x708090, 0xa0b0c0}},
        TKind{"RgbLzwPredictorWidth1",
              [] {
                  TImage i = Manual(1, 1, 8, 2, 5);
                  Set(i, B::Short(258, {8, 8, 8}));
                  i.Entries.push_back(B::Short(317, {2}));
                  i.Strips = {test::LzwEncode("\x11\x22\x33")};
                  i.AutoStrips = true;
                  return i;
              },
              {0x112233}},
        TKind{"LzwPredictorStrips", Lzw8Predictor,
              Greys({10, 13, 16, 19, 22, 100, 103, 106, 109, 112, 200, 203, 206, 209, 212})},
        TKind{"NoCompressionTag",
              [] {
                  TImage i = Grey8();
                  Remove(i, 259);
                  return i;
              },
              Greys({0, 40, 80, 120, 160, 200, 240, 255})},
        TKind{"NoBitsPerSampleIsBilevel",
              [] {
                  TImage i = B::Simple(8, 1, {1}, 1, "\x81");
                  Remove(i, 258);
                  return i;
              },
              Greys({255, 0, 0, 0, 0, 0, 0, 255})},
        TKind{"LongTypedSizesAndBits",
              [] {
                  TImage i = Grey8();
                  Set(i, B::Long(258, {8}));
                  Set(i, B::Long(262, {1}));
                  return i;
              },
              Greys({0, 40, 80, 120, 160, 200, 240, 255})},
        TKind{"RowsPerStripAllOnes",
              [] {
                  TImage i = Grey8();
                  Set(i, B::Long(278, {0xFFFFFFFF}));
                  return i;
              },
              Greys({0, 40, 80, 120, 160, 200, 240, 255})},
        TKind{"OneRowPerStrip",
              [] { return B::Simple(4, 2, {8}, 1, S("\x00\x28\x50\x78\xa0\xc8\xf0\xff"), 1); },
              Greys({0, 40, 80, 120, 160, 200, 240, 255})}),
    [](const testing::TestParamInfo<TKind>& info) { return info.param.Name; });

TEST(TiffReaderTest, ShortColorMapLeavesTheRestBlack) {
    // An 8-bit palette image whose map has only two entries: the table still has 256.
    TImage i = B::Simple(3, 1, {8}, 3, S("\x00\x01\x05"));
    i.Entries.push_back(B::Short(320, {0xFFFF, 0x0000, 0x0000, 0xFFFF, 0x1234, 0x0000}));
    const auto p = Load(Build(i));
    ASSERT_EQ(p->Info()->TableEntries(), 256u);
    EXPECT_EQ(AllRgb(*p), (std::vector<std::uint32_t>{0xFF0012, 0x00FF00, 0x000000}));
}

TEST(TiffReaderTest, SingleStripWithoutByteCounts) {
    const std::string pixels = "\x01\x02\x03\x04\x05\x06\x07\x08";
    const std::string file = WithTrailer(
        [](std::uint32_t at) {
            TImage i = Manual(4, 2, 8, 1, 1);
            i.Entries.push_back(B::Long(273, {at}));
            return i;
        },
        pixels);
    EXPECT_EQ(AllRgb(*Load(file)), Greys({1, 2, 3, 4, 5, 6, 7, 8}));
}

// Two SHORT offsets fit the entry itself; here the first strip is the second pair of bytes.
TImage TwoShortStrips(std::uint32_t at) {
    TImage i = Manual(2, 2, 8, 1, 1);
    const auto a = static_cast<std::uint16_t>(at);
    i.Entries.push_back(B::Short(273, {static_cast<std::uint16_t>(a + 2), a}));
    i.Entries.push_back(B::Short(279, {2, 2}));
    i.Entries.push_back(B::Short(278, {1}));
    return i;
}

TEST(TiffReaderTest, TwoShortStripOffsetsInsideTheEntry) {
    for (bool big : {false, true})
        EXPECT_EQ(AllRgb(*Load(WithTrailer(TwoShortStrips, S("\x0b\x0c\x0d\x0e"), big))),
                  Greys({13, 14, 11, 12}))
            << big;
}

TEST(TiffReaderTest, UncompressedStripCutByTheEndOfTheFileKeepsItsRows) {
    std::string file = Build(B::Simple(4, 4, {8}, 1, std::string(16, '\x77')));
    file.resize(file.size() - 6);  // the last row and a half are missing
    const auto p = Load(file);
    EXPECT_EQ(AllRgb(*p), Greys({0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0, 0,
                                 0, 0, 0, 0}));
}

TEST(TiffReaderTest, LzwStripThatEndsEarlyLeavesTheRestZero) {
    TImage i = Manual(4, 2, 8, 1, 5);
    std::string encoded = test::LzwEncode("\x09\x09\x09\x09\x09");  // five of eight bytes
    i.Strips = {encoded};
    i.AutoStrips = true;
    EXPECT_EQ(AllRgb(*Load(Build(i))), Greys({9, 9, 9, 9, 9, 0, 0, 0}));
}

TEST(TiffReaderTest, InvalidLzwStripRaises) {
    TImage i = Manual(4, 2, 8, 1, 5);
    test::TBitWriter w;
    w.Put(256, 9);
    w.Put(400, 9);
    i.Strips = {w.Finish()};
    i.AutoStrips = true;
    EXPECT_EQ(ErrorOf(Build(i)), SInvalidLzwCode.Id);
}

TEST(TiffReaderTest, StreamsWithoutMemoryReadTheSamePixels) {
    for (const TImage& image : {Lzw8Predictor(), Rgb24(), Grey8(), Palette4()}) {
        const std::string file = Build(image, true);
        TOpaqueStream opaque(file);
        const auto viaReads = LoadFrom(opaque);
        EXPECT_EQ(AllRgb(*viaReads), AllRgb(*Load(file)));
    }
}

TEST(TiffReaderTest, ProgressPerStripAndAbort) {
    const auto file = Build(B::Simple(3, 8, {8}, 1, std::string(24, '\x42'), 2));
    std::vector<std::array<int, 3>> calls;
    TTifPicture picture;
    picture.OnProgress = [&](TDibPicture&, int first, int count, int percent, bool&) {
        calls.push_back({first, count, percent});
    };
    TMemoryStream stream = StreamOf(file);
    picture.ReadFileHeader(stream);
    picture.LoadFromStream(stream);
    EXPECT_EQ(calls,
              (std::vector<std::array<int, 3>>{{0, 2, 25}, {2, 2, 50}, {4, 2, 75}, {6, 2, 100}}));

    // An abort after the second strip keeps two strips and raises nothing.
    TTifPicture aborted;
    aborted.OnProgress = [](TDibPicture&, int, int, int percent, bool& abort) {
        abort = percent >= 50;
    };
    TMemoryStream again = StreamOf(file);
    aborted.ReadFileHeader(again);
    EXPECT_NO_THROW(aborted.LoadFromStream(again));
    EXPECT_EQ(Rgb(aborted, 0, 3), 0x424242u);
    EXPECT_EQ(Rgb(aborted, 0, 4), 0u);
}

// ---------------------------------------------------------------------------------------
// Directories

TFieldList ReadFirstDirectory(const std::string& file, std::int64_t* next = nullptr) {
    TMemoryStream stream = StreamOf(file);
    bool big = false;
    ReadTiffHeader(stream, big);
    TFieldList fields;
    const std::int64_t n = ReadDirectory(stream, fields, big);
    if (next) *next = n;
    return fields;
}

TEST(TiffDirectoryTest, KeepsKnownTagsAndByteSizedUnknownOnes) {
    for (bool big : {false, true}) {
        TImage i = Grey8();
        i.Entries.push_back(B::Long(40000, {7}));              // unknown LONG: dropped
        i.Entries.push_back(B::Bytes(40001, 1, "\x01\x02"));   // unknown BYTE: kept
        i.Entries.push_back(B::Bytes(40002, 6, "\xff"));       // unknown SBYTE: kept
        i.Entries.push_back(B::Ascii(40003, "private text"));  // unknown ASCII: kept
        i.Entries.push_back(B::Bytes(40004, 7, "undefined"));  // unknown UNDEFINED: dropped
        i.Entries.push_back(B::Rational(282, 300, 1));         // known RATIONAL: kept
        i.Entries.push_back(B::Short(297, {3, 9}));            // two SHORTs inline
        const TFieldList f = ReadFirstDirectory(Build(i, big));
        EXPECT_EQ(f.IndexOfTag(40000), -1) << big;
        EXPECT_GE(f.IndexOfTag(40001), 0) << big;
        EXPECT_GE(f.IndexOfTag(40002), 0) << big;
        EXPECT_EQ(f.GetAscii(40003), "private text") << big;
        EXPECT_EQ(f.IndexOfTag(40004), -1) << big;
        std::uint32_t num = 0, den = 0;
        EXPECT_TRUE(f.GetRational(282, num, den));
        EXPECT_EQ(num, 300u);
        EXPECT_EQ(den, 1u);
        TFieldEntry page;
        ASSERT_GE(f.GetField(297, page), 0);
        std::uint16_t halves[2];
        std::memcpy(halves, &page.Value, 4);
        EXPECT_EQ(halves[0], 3);
        EXPECT_EQ(halves[1], 9);
        for (int k = 1; k < f.Count(); ++k) EXPECT_LE(f.Items(k - 1).Tag, f.Items(k).Tag);
    }
}

// A short text whose four bytes are not a text is read as the offset of one.
TEST(TiffDirectoryTest, ShortTextRepair) {
    struct TCase {
        std::string There;  // the 4 bytes at offset 0x00014241
        std::string Expected;
    } cases[] = {{std::string("xyz\0", 4), "xyz"}, {"xyzw", "AB\x01"}};
    for (const auto& c : cases) {
        TImage i = Grey8();
        TEntry odd{305, 2, 4, {'A', 'B', 1, 0}, true};
        i.Entries.push_back(odd);
        i.Entries.push_back(B::Bytes(306, 2, std::string("ok\0", 3)));  // valid: untouched
        std::string file = Build(i);
        file.resize(0x14241, '\0');
        file += c.There;
        const TFieldList f = ReadFirstDirectory(file);
        EXPECT_EQ(f.GetAscii(305), c.Expected);
        EXPECT_EQ(f.GetAscii(306), "ok");
    }
}

TEST(TiffDirectoryTest, EntriesWhoseDataLiesOutsideTheFileAreDropped) {
    TImage i = Grey8();
    i.Entries.push_back(TEntry{270, 2, 100, {0x00, 0x00, 0xF0, 0x00}, true});  // past the end
    i.Entries.push_back(TEntry{33432, 2, 0xFFFFFFFF, {0x10, 0, 0, 0}, true});  // 4 GB of text
    i.Entries.push_back(TEntry{65521, 4, 0x40000000, {0x10, 0, 0, 0}, true});  // 4 GB of LONGs
    i.Entries.push_back(B::Ascii(315, "Somebody"));
    const std::string file = Build(i);
    const TFieldList f = ReadFirstDirectory(file);
    EXPECT_EQ(f.IndexOfTag(270), -1);
    EXPECT_EQ(f.IndexOfTag(33432), -1);
    EXPECT_EQ(f.IndexOfTag(65521), -1);
    EXPECT_EQ(f.GetAscii(315), "Somebody");
    EXPECT_EQ(AllRgb(*Load(file)), Greys({0, 40, 80, 120, 160, 200, 240, 255}));
}

TEST(TiffDirectoryTest, DirectoryCutByTheEndOfTheFileKeepsItsWholeEntries) {
    std::string file = Build(Grey8());
    // Claim 200 entries: the file holds the real ones, then pixels, then nothing.
    file[8] = static_cast<char>(200);
    std::int64_t next = -1;
    const TFieldList f = ReadFirstDirectory(file, &next);
    EXPECT_EQ(next, 0);
    EXPECT_GE(f.IndexOfTag(256), 0);
}

TEST(TiffDirectoryTest, NextOffsetPastTheEndIsNone) {
    TTiffBuilder b;
    b.Add(Grey8());
    b.Add(Grey8());
    std::string file = b.Build();
    std::int64_t next = 0;
    ReadFirstDirectory(file, &next);
    EXPECT_GT(next, 8);
    file.resize(static_cast<std::size_t>(next));
    ReadFirstDirectory(file, &next);
    EXPECT_EQ(next, 0);
}

// ---------------------------------------------------------------------------------------
// Image count

// Offset of the next-IFD field of the little-endian directory at `ifd`.
std::size_t NextField(const std::string& file, std::size_t ifd) {
    const auto n = static_cast<std::uint8_t>(file[ifd]) | static_cast<std::uint8_t>(file[ifd + 1])
                                                              << 8;
    return ifd + 2 + 12 * static_cast<std::size_t>(n);
}

std::uint32_t Get32(const std::string& file, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, file.data() + at, 4);
    return v;
}

void Put32(std::string& file, std::size_t at, std::uint32_t v) {
    std::memcpy(file.data() + at, &v, 4);
}

int Count(const std::string& file) {
    TMemoryStream stream = StreamOf(file);
    return CountTiffImages(stream);
}

TEST(TiffCountTest, WalksTheChainAndStopsAtLoopsAndBadOffsets) {
    TTiffBuilder b;
    for (int k = 0; k < 3; ++k) b.Add(Grey8());
    const std::string three = b.Build();
    EXPECT_EQ(Count(three), 3);

    const std::size_t next1 = NextField(three, 8);
    const std::uint32_t second = Get32(three, next1);
    const std::size_t next2 = NextField(three, second);

    std::string pastEnd = three;
    Put32(pastEnd, next1, static_cast<std::uint32_t>(three.size() + 100));
    EXPECT_EQ(Count(pastEnd), 1);

    std::string toFirst = three;
    Put32(toFirst, next2, 8);
    EXPECT_EQ(Count(toFirst), 2);

    std::string toSelf = three;
    Put32(toSelf, next1, 8);
    EXPECT_EQ(Count(toSelf), 1);

    // Into the middle of its own entries: a different offset each time, still finite.
    std::string inside = three;
    Put32(inside, next1, 10);
    const int n = Count(inside);
    EXPECT_GE(n, 1);

    // Cut inside the second image's count, inside its entries, and after its entries but
    // before its link: only an image whose entries are all there counts.
    const std::size_t start2 = second;
    for (const auto& [end, images] : {std::pair{start2 + 1, 1}, std::pair{start2 + 2 + 12, 1},
                                      std::pair{next2 - 1, 1}, std::pair{next2, 2}})
        EXPECT_EQ(Count(three.substr(0, end)), images) << "cut at " << end;

    EXPECT_THROW(Count(std::string("II+\0\x08\0\0\0", 8)), EPixError);
}

}  // namespace
}  // namespace pix
