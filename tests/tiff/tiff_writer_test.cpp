// SPDX-License-Identifier: MIT
#include "tiff/tiff_writer.h"

#include "test_support.h"
#include "tiff_builder.h"

#include "imaging/stream.h"
#include "platform/byte_order.h"
#include "platform/error.h"
#include "platform/res_strings.h"
#include "tiff/tif_picture.h"
#include "tiff/tiff_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace pix {
namespace {

using Bytes = std::vector<std::uint8_t>;

// One directory entry as the file holds it.
struct TRawEntry {
    std::uint16_t Type = 0;
    std::uint32_t Count = 0;
    std::uint32_t Value = 0;
};

// A little-endian IFD parsed straight from the written bytes, independent of our reader.
struct TRawIfd {
    std::vector<std::uint16_t> Order;
    std::map<std::uint16_t, TRawEntry> Entries;
    std::uint32_t Next = 0;
    std::size_t End = 0;  // first byte after the next-IFD offset

    bool Has(std::uint16_t tag) const { return Entries.count(tag) != 0; }
    const TRawEntry& At(std::uint16_t tag) const { return Entries.at(tag); }
};

TRawIfd ParseIfd(const Bytes& file, std::size_t at) {
    TRawIfd ifd;
    const std::uint16_t n = LoadLE16(file.data() + at);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* p = file.data() + at + 2 + 12 * i;
        const std::uint16_t tag = LoadLE16(p);
        ifd.Order.push_back(tag);
        ifd.Entries[tag] = {LoadLE16(p + 2), LoadLE32(p + 4), LoadLE32(p + 8)};
    }
    ifd.End = at + 2 + 12u * n + 4;
    ifd.Next = LoadLE32(file.data() + ifd.End - 4);
    return ifd;
}

std::uint16_t Short(const TRawEntry& e) { return static_cast<std::uint16_t>(e.Value & 0xFFFF); }

// The colour of pixel (x, y) of a bottom-up bitmap, y counted from the top, as red, green,
// blue.
std::array<int, 3> PixelRgb(const TDibInfo& info, const std::uint8_t* bits, int x, int y) {
    const BITMAPINFOHEADER& h = info.Header();
    const std::uint8_t* row = bits + static_cast<std::size_t>(h.biHeight - 1 - y) *
                                         DibBytesPerLine(h.biWidth, h.biBitCount);
    if (h.biBitCount == 24) return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
    int index = 0;
    if (h.biBitCount == 8) index = row[x];
    if (h.biBitCount == 4) index = (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0xF;
    if (h.biBitCount == 1) index = (row[x / 8] >> (7 - x % 8)) & 1;
    // Indices past a short table are black, as the writer's palette has them.
    if (static_cast<unsigned>(index) >= info.TableEntries()) return {0, 0, 0};
    const RGBQUAD c = info.Colors()[index];
    return {c.rgbRed, c.rgbGreen, c.rgbBlue};
}

// A bitmap of the picture model: header, table and bottom-up rows padded to 4 bytes.
struct TBitmap {
    std::unique_ptr<TDibInfo> Info;
    Bytes Bits;

    TBitmap(int width, int height, int bitCount, const std::vector<RGBQUAD>& table) {
        Info = std::make_unique<TDibInfo>(40 + 4 * table.size());
        BITMAPINFOHEADER& h = Info->Header();
        h.biSize = 40;
        h.biWidth = width;
        h.biHeight = height;
        h.biPlanes = 1;
        h.biBitCount = static_cast<std::uint16_t>(bitCount);
        if (!table.empty()) std::memcpy(Info->Colors(), table.data(), 4 * table.size());
        Bits.resize(DibBytesPerLine(width, bitCount) * static_cast<std::size_t>(height));
        // A pattern that reaches every index of small tables and differs from row to row.
        for (std::size_t i = 0; i < Bits.size(); ++i)
            Bits[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    // Bytes of image row y (0 = top) in memory.
    const std::uint8_t* Row(int y) const {
        return Bits.data() + static_cast<std::size_t>(Info->Header().biHeight - 1 - y) *
                                 DibBytesPerLine(Info->Header().biWidth, Info->Header().biBitCount);
    }
    std::array<int, 3> Rgb(int x, int y) const { return PixelRgb(*Info, Bits.data(), x, y); }
};

// Loads the first image of a TIFF held in memory through our own reader.
void Load(TTifPicture& picture, const Bytes& file) {
    TSpanStream stream(file);
    picture.ReadFileHeader(stream);
    picture.LoadFromStream(stream);
}

std::vector<RGBQUAD> Grey(int entries, bool inverted) {
    std::vector<RGBQUAD> t;
    for (int i = 0; i < entries; ++i) {
        int g = i * 255 / (entries - 1);
        if (inverted) g = 255 - g;
        const auto v = static_cast<std::uint8_t>(g);
        t.push_back({v, v, v, 0});
    }
    return t;
}

std::vector<RGBQUAD> Coloured(int entries) {
    std::vector<RGBQUAD> t;
    for (int i = 0; i < entries; ++i)
        t.push_back({static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(255 - i),
                     static_cast<std::uint8_t>(i * 3 + 1), 0});
    return t;
}

std::vector<RGBQUAD> Table(int bits, std::function<void(RGBQUAD*)> fill) {
    std::vector<RGBQUAD> t(static_cast<std::size_t>(1) << bits);
    fill(t.data());
    return t;
}

Bytes WriteOne(const TBitmap& bitmap, const TFieldList& fields = {}, int bits = 0) {
    TMemoryStream stream;
    WriteTiffHeader(stream);
    WriteTiffImage(stream, bitmap.Bits.data(), *bitmap.Info, false, fields,
                   bits ? bits : bitmap.Info->Header().biBitCount);
    return stream.Data();
}

std::shared_ptr<TLwMappedMemory> Block(const std::string& bytes) {
    auto block = std::make_shared<TLwMappedMemory>(static_cast<std::int64_t>(bytes.size()));
    std::memcpy(block->Bytes(), bytes.data(), bytes.size());
    return block;
}

std::string FileBytes(const Bytes& file, std::uint32_t at, std::size_t count) {
    return std::string(reinterpret_cast<const char*>(file.data()) + at, count);
}

TEST(TiffWriterTest, HeaderIsLittleEndianWithTheFirstIfdAt8) {
    TMemoryStream stream;
    WriteTiffHeader(stream);
    EXPECT_EQ(stream.Data(), (Bytes{0x49, 0x49, 42, 0, 8, 0, 0, 0}));
}

// The whole file of one 8-bit grey image with a description of odd length: entries in
// tag order, data blocks from the first even offset after the IFD, each padded to even,
// then the rows top first without their padding, and nothing after them.
TEST(TiffWriterTest, LaysOutIfdDataAndStripBackToBack) {
    TBitmap bitmap(3, 2, 8, Grey(256, false));
    TFieldList fields;
    fields.SetAscii(tagImageDescription, "odd six");                // 8 bytes with its NUL
    fields.SetAscii(tagArtist, "Someone");                          // 8 bytes
    fields.SetAscii(tagSoftware, "Pix 1");                          // 6 bytes
    fields.SetField({tagDateTime, ftAscii, 5, 0, Block("2026:")});  // 5 bytes: odd
    const Bytes file = WriteOne(bitmap, fields);

    const TRawIfd ifd = ParseIfd(file, 8);
    const std::vector<std::uint16_t> expected{254, 256, 257, 258, 259, 262, 270, 273, 277,
                                              278, 279, 282, 283, 296, 305, 306, 315};
    EXPECT_EQ(ifd.Order, expected);
    EXPECT_EQ(ifd.Next, 0u);
    const std::size_t e = 8 + 2 + 12 * expected.size() + 4;  // even: no pad byte
    ASSERT_EQ(ifd.End, e);
    // Data blocks in tag order: 270 (8), 282 (8), 283 (8), 305 (6), 306 (5 + pad), 315 (8).
    EXPECT_EQ(ifd.At(270).Value, e);
    EXPECT_EQ(ifd.At(282).Value, e + 8);
    EXPECT_EQ(ifd.At(283).Value, e + 16);
    EXPECT_EQ(ifd.At(305).Value, e + 24);
    EXPECT_EQ(ifd.At(306).Value, e + 30);
    EXPECT_EQ(ifd.At(315).Value, e + 36);
    EXPECT_EQ(file[e + 35], 0);  // the pad after the 5-byte block
    EXPECT_EQ(FileBytes(file, ifd.At(270).Value, 8), std::string("odd six\0", 8));
    EXPECT_EQ(FileBytes(file, ifd.At(306).Value, 5), "2026:");
    const std::size_t strip = e + 44;
    EXPECT_EQ(ifd.At(273).Value, strip);
    EXPECT_EQ(ifd.At(279).Value, 6u);
    EXPECT_EQ(ifd.At(278).Value, 2u);
    ASSERT_EQ(file.size(), strip + 6);
    EXPECT_TRUE(std::equal(bitmap.Row(0), bitmap.Row(0) + 3, file.begin() + strip));
    EXPECT_TRUE(std::equal(bitmap.Row(1), bitmap.Row(1) + 3, file.begin() + strip + 3));
    // Fixed fields of every image.
    EXPECT_EQ(ifd.At(254).Value, 0u);
    EXPECT_EQ(ifd.At(259).Type, ftShort);
    EXPECT_EQ(Short(ifd.At(259)), 1);
    EXPECT_EQ(Short(ifd.At(277)), 1);
    EXPECT_EQ(Short(ifd.At(296)), 2);
    EXPECT_EQ(ifd.At(256).Type, ftLong);
    EXPECT_EQ(ifd.At(256).Value, 3u);
    EXPECT_EQ(ifd.At(257).Value, 2u);
}

// An IFD that starts at an odd position is followed by one pad byte, so that the data
// blocks still start on an even offset.
TEST(TiffWriterTest, OddStartGetsAPadByteBeforeTheData) {
    TBitmap bitmap(2, 1, 8, Grey(256, false));
    TMemoryStream stream;
    WriteTiffHeader(stream);
    const std::uint8_t junk = 0xEE;
    stream.WriteBuffer(&junk, 1);
    WriteTiffImage(stream, bitmap.Bits.data(), *bitmap.Info, false, {}, 8);
    const Bytes& file = stream.Data();
    const TRawIfd ifd = ParseIfd(file, 9);
    EXPECT_EQ(ifd.End % 2, 1u);
    EXPECT_EQ(file[ifd.End], 0);
    EXPECT_EQ(ifd.At(282).Value, ifd.End + 1);
    EXPECT_EQ(ifd.At(273).Value, ifd.End + 1 + 16);
    EXPECT_EQ(file.size(), ifd.End + 1 + 16 + 2);
}

TEST(TiffWriterTest, ChainedImagesPointAtTheNextIfdOnAnEvenOffset) {
    TBitmap first(3, 1, 8, Grey(256, false));  // a strip of 3 bytes: odd
    TBitmap second(2, 2, 24, {});
    TMemoryStream stream;
    WriteTiffHeader(stream);
    WriteTiffImage(stream, first.Bits.data(), *first.Info, true, {}, 8);
    const std::int64_t secondAt = stream.Position();
    WriteTiffImage(stream, second.Bits.data(), *second.Info, false, {}, 24);
    const Bytes& file = stream.Data();

    const TRawIfd ifd1 = ParseIfd(file, 8);
    EXPECT_EQ(secondAt % 2, 0);
    EXPECT_EQ(ifd1.Next, static_cast<std::uint32_t>(secondAt));
    EXPECT_EQ(ifd1.At(273).Value + 3 + 1, ifd1.Next);
    EXPECT_EQ(file[static_cast<std::size_t>(secondAt) - 1], 0);
    const TRawIfd ifd2 = ParseIfd(file, static_cast<std::size_t>(secondAt));
    EXPECT_EQ(ifd2.Next, 0u);
    EXPECT_EQ(file.size(), ifd2.At(273).Value + 12u);
    // An even strip needs no pad before the next image.
    TBitmap even(2, 1, 8, Grey(256, false));
    TMemoryStream chained;
    WriteTiffHeader(chained);
    WriteTiffImage(chained, even.Bits.data(), *even.Info, true, {}, 8);
    EXPECT_EQ(ParseIfd(chained.Data(), 8).Next, chained.Data().size());
}

// How each colour table is written, the row size that follows from the file's bits, and
// the colours our reader and (when the system has Python's PIL) an independent decoder read
// back.
struct TPhotometricCase {
    const char* Name;
    int Bits;  // the picture's bit count
    std::function<std::vector<RGBQUAD>()> MakeTable;
    int Photometric;
    int FileBits;
    bool ColorMap;
};

void PrintTo(const TPhotometricCase& c, std::ostream* os) { *os << c.Name; }

class TiffWriterPhotometricTest : public ::testing::TestWithParam<TPhotometricCase> {};

std::string RunCommand(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    std::size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    pclose(pipe);
    return out;
}

bool HavePil() {
    static const bool have =
        std::filesystem::exists("/usr/bin/python3") &&
        RunCommand("/usr/bin/python3 -c 'import PIL.Image; print(1)' 2>/dev/null") == "1\n";
    return have;
}

// The pixels as an independent decoder (Python's PIL) sees them: "r,g,b" top row first.
std::string PilColours(const Bytes& file) {
    test::TTempDir dir;
    const std::string path = dir.File("out.tif");
    test::WriteFile(path, std::string(file.begin(), file.end()));
    return RunCommand(
        "/usr/bin/python3 -c \"import sys, PIL.Image as I; im = I.open(sys.argv[1]); "
        "print(' '.join('%d,%d,%d' % p for p in im.convert('RGB').getdata()))\" '" +
        path + "' 2>&1");
}

TEST_P(TiffWriterPhotometricTest, ChoosesPhotometricAndColorMap) {
    const TPhotometricCase& c = GetParam();
    const int width = 11, height = 3;
    TBitmap bitmap(width, height, c.Bits, c.MakeTable());
    const Bytes file = WriteOne(bitmap);
    const TRawIfd ifd = ParseIfd(file, 8);
    EXPECT_EQ(Short(ifd.At(tagPhotometric)), c.Photometric);
    const std::size_t rowSize = (width * static_cast<std::size_t>(c.FileBits) + 7) / 8;
    EXPECT_EQ(ifd.At(tagStripByteCounts).Value, height * rowSize);
    EXPECT_EQ(file.size(), ifd.At(tagStripOffsets).Value + height * rowSize);
    ASSERT_EQ(ifd.Has(tagColorMap), c.ColorMap);
    if (c.FileBits == 24) {
        EXPECT_EQ(ifd.At(tagBitsPerSample).Count, 3u);
        EXPECT_EQ(Short(ifd.At(tagSamplesPerPixel)), 3);
        EXPECT_EQ(Short(ifd.At(tagPlanarConfiguration)), 1);
        const std::uint32_t at = ifd.At(tagBitsPerSample).Value;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(LoadLE16(file.data() + at + 2 * i), 8);
    } else {
        EXPECT_EQ(Short(ifd.At(tagBitsPerSample)), c.FileBits);
        EXPECT_FALSE(ifd.Has(tagPlanarConfiguration));
    }
    if (c.ColorMap) {
        const unsigned n = 1u << c.FileBits;
        EXPECT_EQ(ifd.At(tagColorMap).Count, 3 * n);
        const std::uint8_t* map = file.data() + ifd.At(tagColorMap).Value;
        for (unsigned i = 0; i < n; ++i) {
            const RGBQUAD t =
                i < bitmap.Info->TableEntries() ? bitmap.Info->Colors()[i] : RGBQUAD{0, 0, 0, 0};
            EXPECT_EQ(LoadLE16(map + 2 * i), t.rgbRed * 256) << i;
            EXPECT_EQ(LoadLE16(map + 2 * (n + i)), t.rgbGreen * 256) << i;
            EXPECT_EQ(LoadLE16(map + 2 * (2 * n + i)), t.rgbBlue * 256) << i;
        }
    }
    // Our reader sees the same colours; a 1-bit picture of two colours comes back as 4 bits.
    TTifPicture reloaded;
    Load(reloaded, file);
    ASSERT_EQ(reloaded.BitCount(), c.FileBits);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(PixelRgb(*reloaded.Info(), reloaded.Bits(), x, y), bitmap.Rgb(x, y))
                << x << "," << y;

    if (!HavePil()) return;
    std::ostringstream expected;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto rgb = bitmap.Rgb(x, y);
            expected << (x || y ? " " : "") << rgb[0] << ',' << rgb[1] << ',' << rgb[2];
        }
    expected << '\n';
    EXPECT_EQ(PilColours(file), expected.str());
}

std::vector<RGBQUAD> OneColouredEntry() {
    auto t = Grey(256, false);
    t[128].rgbRed = 200;
    return t;
}

INSTANTIATE_TEST_SUITE_P(
    Tables, TiffWriterPhotometricTest,
    ::testing::Values(
        TPhotometricCase{"Grey8", 8, [] { return Grey(256, false); }, 1, 8, false},
        TPhotometricCase{"InvGrey8", 8, [] { return Grey(256, true); }, 0, 8, false},
        TPhotometricCase{"OneColoured8", 8, OneColouredEntry, 3, 8, true},
        TPhotometricCase{"SystemGrey8", 8, [] { return Table(8, FillSystemGrayTable); }, 3, 8,
                         true},
        TPhotometricCase{"System8", 8, [] { return Table(8, FillSystemTable); }, 3, 8, true},
        TPhotometricCase{"Grey4", 4, [] { return Grey(16, false); }, 1, 4, false},
        TPhotometricCase{"InvGrey4", 4, [] { return Grey(16, true); }, 0, 4, false},
        TPhotometricCase{"Colour4", 4, [] { return Table(4, Fill16ColorTable); }, 3, 4, true},
        TPhotometricCase{"BlackWhite1", 1, [] { return Grey(2, false); }, 1, 1, false},
        TPhotometricCase{"WhiteBlack1", 1, [] { return Grey(2, true); }, 0, 1, false},
        // Our reader takes no 1-bit palette: two colours become a 16-entry palette.
        TPhotometricCase{"RedBlue1", 1, [] { return Coloured(2); }, 3, 4, true},
        TPhotometricCase{"GreyPair1", 1,
                         [] {
                             return std::vector<RGBQUAD>{{9, 9, 9, 0}, {99, 99, 99, 0}};
                         },
                         3, 4, true},
        // A table shorter than the bit count implies counts missing entries as black.
        TPhotometricCase{"Short8", 8, [] { return Grey(16, false); }, 3, 8, true},
        TPhotometricCase{"Rgb24", 24, [] { return std::vector<RGBQUAD>{}; }, 2, 24, false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TiffWriterTest, OneBitWidthTenWritesTwoBytesPerRow) {
    TBitmap bitmap(10, 3, 1, Grey(2, false));
    const Bytes file = WriteOne(bitmap);
    const TRawIfd ifd = ParseIfd(file, 8);
    EXPECT_EQ(ifd.At(tagStripByteCounts).Value, 6u);
    const std::uint32_t strip = ifd.At(tagStripOffsets).Value;
    for (int y = 0; y < 3; ++y)
        EXPECT_TRUE(std::equal(bitmap.Row(y), bitmap.Row(y) + 2, file.begin() + strip + 2 * y));
}

TEST(TiffWriterTest, TopDownBitmapsAreWrittenInMemoryOrder) {
    TBitmap bitmap(4, 2, 8, Grey(256, false));
    bitmap.Info->Header().biHeight = -2;
    const Bytes file = WriteOne(bitmap);
    const TRawIfd ifd = ParseIfd(file, 8);
    EXPECT_EQ(ifd.At(tagImageLength).Value, 2u);
    EXPECT_TRUE(std::equal(bitmap.Bits.begin(), bitmap.Bits.begin() + 8,
                           file.begin() + ifd.At(tagStripOffsets).Value));
}

// 16-bit samples: BlackIsZero, or WhiteIsZero when the bitmap shows them through the
// inverted 236-level grey, as the reader sets it up for WhiteIsZero files.
TEST(TiffWriterTest, SixteenBitSamplesAreWrittenLittleEndianTopFirst) {
    for (const bool inverted : {false, true}) {
        TBitmap bitmap(3, 2, 8, Table(8, inverted ? FillSystemInvGrayTable : FillSystemGrayTable));
        const std::vector<std::uint16_t> samples{0x0102, 0xFFFF, 0, 0x8000, 0x1234, 0x00FF};
        TMemoryStream stream;
        WriteTiffHeader(stream);
        WriteTiffImage(stream, samples.data(), *bitmap.Info, false, {}, 16);
        const Bytes& file = stream.Data();
        const TRawIfd ifd = ParseIfd(file, 8);
        EXPECT_EQ(Short(ifd.At(tagBitsPerSample)), 16);
        EXPECT_EQ(Short(ifd.At(tagPhotometric)), inverted ? 0 : 1);
        EXPECT_FALSE(ifd.Has(tagColorMap));
        EXPECT_EQ(ifd.At(tagStripByteCounts).Value, 12u);
        const std::uint32_t strip = ifd.At(tagStripOffsets).Value;
        ASSERT_EQ(file.size(), strip + 12u);
        for (std::size_t i = 0; i < samples.size(); ++i)
            EXPECT_EQ(LoadLE16(file.data() + strip + 2 * i), samples[i]) << i;
    }
}

struct TResolutionCase {
    const char* Name;
    std::vector<std::array<std::uint32_t, 3>> Given;  // tag, numerator, denominator
    std::uint32_t X[2];
    std::uint32_t Y[2];
};

class TiffWriterResolutionTest : public ::testing::TestWithParam<TResolutionCase> {};

TEST_P(TiffWriterResolutionTest, DefaultsFollowTheXResolution) {
    const TResolutionCase& c = GetParam();
    TFieldList fields;
    for (const auto& g : c.Given) fields.SetRational(static_cast<std::uint16_t>(g[0]), g[1], g[2]);
    const Bytes file = WriteOne(TBitmap(1, 1, 8, Grey(256, false)), fields);
    const TRawIfd ifd = ParseIfd(file, 8);
    ASSERT_EQ(ifd.At(tagXResolution).Type, ftRational);
    EXPECT_EQ(LoadLE32(file.data() + ifd.At(tagXResolution).Value), c.X[0]);
    EXPECT_EQ(LoadLE32(file.data() + ifd.At(tagXResolution).Value + 4), c.X[1]);
    EXPECT_EQ(LoadLE32(file.data() + ifd.At(tagYResolution).Value), c.Y[0]);
    EXPECT_EQ(LoadLE32(file.data() + ifd.At(tagYResolution).Value + 4), c.Y[1]);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, TiffWriterResolutionTest,
    ::testing::Values(TResolutionCase{"None", {}, {72, 1}, {72, 1}},
                      TResolutionCase{"XOnly", {{282, 300, 1}}, {300, 1}, {300, 1}},
                      TResolutionCase{"Both", {{282, 300, 1}, {283, 150, 2}}, {300, 1}, {150, 2}},
                      TResolutionCase{"YOnly", {{283, 200, 1}}, {72, 1}, {200, 1}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TiffWriterTest, PageNumberIsCopiedAndMarksAPage) {
    TFieldList fields;
    fields.SetField({tagPageNumber, ftShort, 2, 0x00030001, nullptr});
    const Bytes file = WriteOne(TBitmap(1, 1, 8, Grey(256, false)), fields);
    const TRawIfd ifd = ParseIfd(file, 8);
    EXPECT_EQ(ifd.At(tagNewSubfileType).Value, 2u);
    EXPECT_EQ(ifd.At(tagPageNumber).Count, 2u);
    EXPECT_EQ(ifd.At(tagPageNumber).Value, 0x00030001u);
}

// Only the descriptive tags, PageNumber and the private range come over, each with its own
// copy of Count × element size bytes; the picture's list is left as it was.
TEST(TiffWriterTest, CopiesDescriptiveAndPrivateFieldsOnly) {
    TFieldList fields;
    std::string vexa(101, '\0');
    for (std::size_t i = 0; i < vexa.size(); ++i) vexa[i] = static_cast<char>(i * 5 + 1);
    fields.SetField({tagVexaHeader, ftByte, 101, 1234, Block(vexa)});
    fields.SetField({65000, ftUndefined, 3, 0x00CCBBAA, nullptr});
    fields.SetField({65535, ftShort, 3, 0, Block(std::string("\1\0\2\0\3\0", 6))});
    fields.SetField({tagModel, ftAscii, 5, 0, Block("ABCD")});  // block lacks the NUL
    fields.SetField({tagMake, ftAscii, 9, 0, nullptr});         // data lost: left out
    fields.SetField({tagXPosition, 99, 4, 77, nullptr});        // unknown type: left out
    fields.SetShort(tagOrientation, 3);
    fields.SetShort(tagPlanarConfiguration, 2);
    fields.SetShort(tagCompression, 5);
    fields.SetShort(64999, 1);
    fields.SetAscii(tagCopyright, "(c)");
    const auto vexaBlock = fields.Items(fields.IndexOfTag(tagVexaHeader)).Data;

    const Bytes file = WriteOne(TBitmap(2, 2, 8, Grey(256, false)), fields);
    const TRawIfd ifd = ParseIfd(file, 8);
    for (const std::uint16_t tag :
         std::vector<std::uint16_t>{tagOrientation, tagMake, tagXPosition, 64999})
        EXPECT_FALSE(ifd.Has(tag)) << tag;
    EXPECT_FALSE(ifd.Has(tagPlanarConfiguration));
    EXPECT_EQ(Short(ifd.At(tagCompression)), 1);

    EXPECT_EQ(ifd.At(tagVexaHeader).Type, ftByte);
    EXPECT_EQ(ifd.At(tagVexaHeader).Count, 101u);
    EXPECT_EQ(FileBytes(file, ifd.At(tagVexaHeader).Value, 101), vexa);
    EXPECT_EQ(ifd.At(65000).Value, 0x00CCBBAAu);
    EXPECT_EQ(FileBytes(file, ifd.At(65535).Value, 6), std::string("\1\0\2\0\3\0", 6));
    EXPECT_EQ(FileBytes(file, ifd.At(tagModel).Value, 5), std::string("ABCD\0", 5));
    EXPECT_EQ(ifd.At(tagCopyright).Value, 0x00296328u);  // "(c)" inline

    // The source keeps its own offset and block.
    const TFieldEntry& source = fields.Items(fields.IndexOfTag(tagVexaHeader));
    EXPECT_EQ(source.Value, 1234u);
    EXPECT_EQ(source.Data, vexaBlock);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(vexaBlock->Bytes()), 101), vexa);
}

struct TRefusalCase {
    const char* Name;
    int Width, Height, BitCount, Bits;
    TResString Message;
};

class TiffWriterRefusalTest : public ::testing::TestWithParam<TRefusalCase> {};

// Refused before any pixel is read: the pixel buffer here is far smaller than the header
// claims.
TEST_P(TiffWriterRefusalTest, RefusesWithoutTouchingThePixels) {
    const TRefusalCase& c = GetParam();
    TDibInfo info(40 + 1024);
    info.Header() = {40, c.Width, c.Height, 1, static_cast<std::uint16_t>(c.BitCount), 0, 0,
                     0,  0,       0,        0};
    const std::uint8_t pixels[4] = {};
    TMemoryStream stream;
    try {
        WriteTiffImage(stream, pixels, info, false, {}, c.Bits);
        FAIL() << "no exception";
    } catch (const EPixError& e) {
        EXPECT_EQ(e.Id, c.Message.Id) << e.what();
    }
    EXPECT_EQ(stream.Size(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TiffWriterRefusalTest,
    ::testing::Values(TRefusalCase{"ZeroWidth", 0, 5, 8, 8, SInvalidImageSize},
                      TRefusalCase{"ZeroHeight", 5, 0, 8, 8, SInvalidImageSize},
                      TRefusalCase{"BitsDisagree", 5, 5, 4, 8, SDibBitCountFormat},
                      TRefusalCase{"ThirtyTwoBits", 5, 5, 32, 32, SDibBitCountFormat},
                      // Past the 32-bit offsets of the format.
                      TRefusalCase{"Huge24", 0x7FFFFFFF, 0x7FFFFFFF, 24, 24, SImageTooLarge},
                      TRefusalCase{"Huge16", 0x10000, 0x10000, 8, 16, SImageTooLarge},
                      // The strip alone fits; the directory in front of it does not.
                      TRefusalCase{"StripAtTheLimit", 0x7FFFFFFF, 2, 8, 8, SImageTooLarge}),
    [](const auto& info) { return std::string(info.param.Name); });

// A saved picture keeps its private header block byte for byte; Orientation is not written.
TEST(TiffWriterRoundTripTest, SaveAndReloadKeepsThePrivateHeaderAndDropsOrientation) {
    TTifPicture picture(7, 3, pkGray256);
    for (std::uint64_t i = 0; i < picture.ImageSize(); ++i)
        picture.Bits()[i] = static_cast<std::uint8_t>(i * 13);
    // Version 256, then item 15 (image number) of 4 bytes: 42.
    const std::string vexa("\0\1\x0f\0\4\0\0\0\x2a\0\0\0", 12);
    picture.Fields().SetField(
        {tagVexaHeader, ftByte, static_cast<std::uint32_t>(vexa.size()), 0, Block(vexa)});
    picture.Fields().SetShort(tagOrientation, 3);
    picture.SetDescription("Probe 7");
    test::TTempDir dir;
    const std::string path = dir.File("saved.tif");
    picture.SaveToFile(path);

    TTifPicture reloaded;
    reloaded.LoadFromFile(path);
    EXPECT_EQ(reloaded.Fields().IndexOfTag(tagOrientation), -1);
    EXPECT_EQ(reloaded.Description(), "Probe 7");
    TFieldEntry header;
    ASSERT_GE(reloaded.Fields().GetField(tagVexaHeader, header), 0);
    EXPECT_EQ(header.FieldType, ftByte);
    ASSERT_TRUE(header.Data);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(header.Data->Bytes()), vexa.size()), vexa);
    ASSERT_EQ(reloaded.ImageSize(), picture.ImageSize());
    // Rows of 7 pixels: the padding byte of each row is not part of the file.
    for (std::uint64_t row = 0; row < 3; ++row)
        EXPECT_EQ(std::memcmp(reloaded.Bits() + 8 * row, picture.Bits() + 8 * row, 7), 0) << row;
    EXPECT_EQ(reloaded.PaletteKind(), pkGray256);
}

// 16-bit files of either photometric come back with the same samples, the same display
// table and the same photometric.
TEST(TiffWriterRoundTripTest, SixteenBitSamplesSurviveASave) {
    for (const int photometric : {0, 1}) {
        std::string pixels;
        for (const std::uint16_t v : {0, 100, 65535, 30000, 12, 4000})
            pixels += std::string({static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)});
        test::TTiffBuilder builder;
        builder.Add(test::TTiffBuilder::Simple(3, 2, {16}, photometric, pixels));
        const std::string original = builder.Build();
        TTifPicture first;
        Load(first, Bytes(original.begin(), original.end()));
        ASSERT_TRUE(first.ImgData16());

        TMemoryStream saved;
        first.WriteFileHeader(saved);
        first.WriteData(saved, false);
        EXPECT_EQ(Short(ParseIfd(saved.Data(), 8).At(tagPhotometric)), photometric);
        TTifPicture second;
        Load(second, saved.Data());
        ASSERT_TRUE(second.ImgData16());
        EXPECT_EQ(std::memcmp(second.ImgData16()->Memory(), first.ImgData16()->Memory(), 12), 0);
        EXPECT_EQ(std::memcmp(second.Info()->Get(), first.Info()->Get(), first.Info()->Size()), 0);
        EXPECT_EQ(std::memcmp(second.Bits(), first.Bits(), first.ImageSize()), 0);
    }
}

TEST(TiffWriterRoundTripTest, ChainedImagesLoadOneAfterTheOther) {
    TBitmap grey(3, 1, 8, Grey(256, false));
    TBitmap colour(5, 2, 4, Table(4, Fill16ColorTable));
    TMemoryStream stream;
    WriteTiffHeader(stream);
    WriteTiffImage(stream, grey.Bits.data(), *grey.Info, true, {}, 8);
    WriteTiffImage(stream, colour.Bits.data(), *colour.Info, false, {}, 4);
    const Bytes file = stream.Data();
    TSpanStream counting(file);
    EXPECT_EQ(CountTiffImages(counting), 2);

    TSpanStream input(file);
    TTifPicture picture;
    picture.ReadFileHeader(input);
    EXPECT_TRUE(picture.LoadFromStream(input));
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_FALSE(picture.LoadFromStream(input));
    ASSERT_EQ(picture.Width(), 5);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(PixelRgb(*picture.Info(), picture.Bits(), x, y), colour.Rgb(x, y));
}

}  // namespace
}  // namespace pix
