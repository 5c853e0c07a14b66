// SPDX-License-Identifier: MIT
#include "thumbs/thumb_cache.h"

#include "test_support.h"

#include "imaging/stream.h"
#include "platform/error.h"
#include "platform/res_strings.h"
#include "thumbs/entry_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace pix {
namespace {

using test::ExpectSameInfo;
using test::PixelsOf;

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Little-endian access written out here, so that the expectations do not lean on the
// writer's own helpers.
std::uint16_t U16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
std::uint32_t U32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at)) | (static_cast<std::uint32_t>(b.at(at + 1)) << 8) |
           (static_cast<std::uint32_t>(b.at(at + 2)) << 16) |
           (static_cast<std::uint32_t>(b.at(at + 3)) << 24);
}
void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
Bytes Load(const std::string& path) {
    const std::string text = test::ReadFile(path);
    return Bytes(text.begin(), text.end());
}
void Save(const std::string& path, const Bytes& bytes) {
    test::WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

// A 4 x 2 true-colour thumbnail with a recognisable pixel pattern.
std::unique_ptr<TBmpPicture> SmallThumbnail(std::uint8_t seed = 1) {
    auto picture = std::make_unique<TBmpPicture>(4, 2, pkTrueColor);
    const std::size_t size = static_cast<std::size_t>(picture->ImageSize());
    for (std::size_t i = 0; i < size; ++i)
        picture->Bits()[i] = static_cast<std::uint8_t>(seed + i * 7);
    return picture;
}

// Every stored member set, each to a value of its own.
void FillAll(TThumbInfo& info) {
    info.Thumbnail = SmallThumbnail();
    info.Width = 640;
    info.Height = 480;
    info.DataSize = 921600;
    info.BitCount = 24;
    info.ImageCount = 3;
    info.Comment = "a comment\r\nline \xE4";
    info.Author = "author";
    info.Copyright = "(c)";
    info.Magnification = 1500.5;
    info.WorkingDistance = 8.25;
    info.HighVoltage = 20.0;
    info.ParamValue3 = -1.5;
    info.ParamValue4 = 3.0e-9;
    info.ParamValue6 = -7;
    info.ParamFormat = "%s %s";
    info.ParamNames = "Mag,HV";
    info.LinescanData = -1;
    info.PointscanData = -2;
    info.RecordTime = SYSTEMTIME{2026, 12, 2, 8, 9, 30, 15, 250};
    info.ImageNumber = 42;
    info.MeasurementData = -1;
}

// The records of `info` as the file holds them (the 24-byte header in front).
Bytes FileOfRecord(const TThumbInfo& info, std::int32_t* offset = nullptr) {
    TMemoryStream records;
    const std::int32_t at = AppendThumbRecord(records, info);
    if (offset) *offset = at;
    Bytes file(24, 0);
    file.insert(file.end(), records.Data().begin(), records.Data().end());
    return file;
}

// The records of a stream as the one piece the writer takes.
std::vector<TThumbCachePiece> Pieces(const TMemoryStream& records) {
    return {std::span<const std::uint8_t>(records.Data())};
}

// ---- Round trip of each kind of item ----

// A thumbnail of each kind, a size pair, text with a zero byte, a time, and every member at
// once; which tag each member gets is checked byte by byte in the layout test below.

struct TMemberCase {
    const char* Name;
    std::function<void(TThumbInfo&)> Set;
};

void PrintTo(const TMemberCase& c, std::ostream* os) { *os << c.Name; }

class ThumbRecordRoundTripTest : public ::testing::TestWithParam<TMemberCase> {};

TEST_P(ThumbRecordRoundTripTest, ReadsBackWhatWasAppended) {
    TThumbInfo info;
    GetParam().Set(info);
    const Bytes file = FileOfRecord(info);
    TThumbInfo back;
    back.Comment = "left over from before";  // the reader clears its target first
    back.FileDate = 77;
    ReadThumbRecord(file, 24, back, 112, 96);
    ExpectSameInfo(info, back);
    EXPECT_EQ(back.FileDate, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Members, ThumbRecordRoundTripTest,
    ::testing::Values(
        TMemberCase{"Thumbnail", [](TThumbInfo& i) { i.Thumbnail = SmallThumbnail(9); }},
        TMemberCase{"Palette",
                    [](TThumbInfo& i) {
                        i.Thumbnail = std::make_unique<TBmpPicture>(5, 3, pkGray256);
                        std::memset(i.Thumbnail->Bits(), 0x5A,
                                    static_cast<std::size_t>(i.Thumbnail->ImageSize()));
                    }},
        TMemberCase{"Size", [](TThumbInfo& i) { i.Width = 3000, i.Height = 1000; }},
        TMemberCase{"Comment", [](TThumbInfo& i) { i.Comment = std::string("x\0y", 3); }},
        TMemberCase{
            "RecordTime",
            [](TThumbInfo& i) { i.RecordTime = SYSTEMTIME{1999, 1, 5, 31, 23, 59, 58, 999}; }},
        TMemberCase{"Everything", [](TThumbInfo& i) { FillAll(i); }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ThumbRecordTest, LeavesOutWhatIsNotKnown) {
    // Zero members, a size with one side 0, a time without a year and the point block all
    // leave no item: the record is its header and the end item.
    TThumbInfo info;
    info.Width = 640;  // the height is 0
    info.RecordTime.wMonth = 5;
    info.RecordTime.wDay = 1;
    info.PointPositions = std::string(40, 'P');
    const Bytes file = FileOfRecord(info);
    ASSERT_EQ(file.size(), 24u + 12u);
    EXPECT_EQ(U16(file, 24), 21577);
    EXPECT_EQ(U32(file, 26), 6u);
    EXPECT_EQ(U16(file, 30), 65535);
    EXPECT_EQ(U32(file, 32), 0u);
    TThumbInfo back;
    ReadThumbRecord(file, 24, back, 112, 96);
    EXPECT_EQ(back.Width, 0);
    EXPECT_EQ(back.RecordTime.wMonth, 0);
}

TEST(ThumbRecordTest, SecondRecordOffsetCountsTheHeaderAndTheFirst) {
    TThumbInfo first, second;
    first.DataSize = 1;
    second.Comment = "two";
    TMemoryStream records;
    EXPECT_EQ(AppendThumbRecord(records, first), 24);
    EXPECT_EQ(AppendThumbRecord(records, second), 24 + 6 + 10 + 6);
    Bytes file(24, 0);
    file.insert(file.end(), records.Data().begin(), records.Data().end());
    TThumbInfo back;
    ReadThumbRecord(file, 24 + 22, back, 112, 96);
    EXPECT_EQ(back.Comment, "two");
    EXPECT_EQ(back.DataSize, 0);
}

// ---- Records built by hand: what a reader of this version does with other contents ----

// A record of raw items (tag, bytes), each with its stated length unless `lengths` says.
Bytes RawRecord(const std::vector<std::pair<std::uint16_t, Bytes>>& items) {
    Bytes body;
    for (const auto& [tag, data] : items) {
        Bytes header(6);
        Put16(header, 0, tag);
        Put32(header, 2, static_cast<std::uint32_t>(data.size()));
        body.insert(body.end(), header.begin(), header.end());
        body.insert(body.end(), data.begin(), data.end());
    }
    Bytes record(6);
    Put16(record, 0, 21577);
    Put32(record, 2, static_cast<std::uint32_t>(body.size()));
    record.insert(record.end(), body.begin(), body.end());
    return record;
}

TEST(ThumbRecordTest, SkipsUnknownItemsAndStopsAtTheEndItem) {
    Bytes i32(4);
    Put32(i32, 0, 99);
    Bytes longer(12, 0);  // a fixed-size item with more bytes than its member: the rest skipped
    Put32(longer, 0, 16);
    const Bytes record = RawRecord({{500, Bytes(9, 0xEE)},
                                    {17, i32},
                                    {19, longer},
                                    {65535, {}},
                                    {18, i32}});  // after the end: not read
    TThumbInfo info;
    ReadThumbRecord(record, 0, info, 112, 96);
    EXPECT_EQ(info.DataSize, 99);
    EXPECT_EQ(info.BitCount, 16);
    EXPECT_EQ(info.ImageCount, 0);
    EXPECT_EQ(info.Thumbnail, nullptr);
}

TEST(ThumbRecordTest, RecordWithoutEndItemEndsAtItsLength) {
    Bytes i32(4);
    Put32(i32, 0, 5);
    Bytes record = RawRecord({{139, i32}});
    record.resize(record.size() + 20, 0xFF);  // what follows is not part of the record
    TThumbInfo info;
    ReadThumbRecord(record, 0, info, 112, 96);
    EXPECT_EQ(info.ImageNumber, 5);
}

TEST(ThumbRecordTest, RefusesBrokenRecords) {
    // A fixed-size item shorter than its member.
    EXPECT_THROW(
        {
            TThumbInfo info;
            ReadThumbRecord(RawRecord({{128, Bytes(4, 0)}}), 0, info, 112, 96);
        },
        EStreamError);
    // An item whose length runs past the end of the bytes.
    Bytes record = RawRecord({{20, Bytes(3, 'a')}});
    Put32(record, 8, 0xFFFFFFF0u);
    EXPECT_THROW(
        {
            TThumbInfo info;
            ReadThumbRecord(record, 0, info, 112, 96);
        },
        EStreamError);
    // Offsets outside the bytes.
    TThumbInfo info;
    EXPECT_THROW(ReadThumbRecord(record, -1, info, 112, 96), EStreamError);
    EXPECT_THROW(ReadThumbRecord(record, static_cast<std::int64_t>(record.size()), info, 112, 96),
                 EStreamError);
}

TEST(ThumbRecordTest, ItemRunningPastItsRecordIsAnError) {
    // A record is copied into a new cache file by the length in its header, so an item
    // that reaches beyond that length must not be read as part of the record: the copy
    // would lose its end.
    Bytes i32(4);
    Put32(i32, 0, 5);
    Bytes record = RawRecord({{139, i32}, {65535, {}}});
    Put32(record, 2, 6);  // the record ends inside item 139's data
    TThumbInfo info;
    EXPECT_THROW(ReadThumbRecord(record, 0, info, 112, 96), EStreamError);

    TThumbInfo full;
    FillAll(full);
    Bytes file = FileOfRecord(full);
    Put32(file, 24 + 2, 6);  // only item 1's header belongs to the record
    EXPECT_THROW(ReadThumbRecord(file, 24, info, 112, 96), EStreamError);
}

TEST(ThumbRecordTest, EveryTruncationIsAStreamError) {
    TThumbInfo info;
    FillAll(info);
    Bytes file = FileOfRecord(info);
    const Bytes record(file.begin() + 24, file.end());
    for (std::size_t cut = 0; cut < record.size(); ++cut) {
        const Bytes part(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(cut));
        TThumbInfo back;
        try {
            ReadThumbRecord(part, 0, back, 112, 96);
            ADD_FAILURE() << "no error for a record cut at " << cut;
        } catch (const EStreamError&) {
        } catch (const std::exception& e) {
            ADD_FAILURE() << "cut at " << cut << ": " << e.what();
        }
    }
}

// ---- The byte layout of a written file ----

TEST(ThumbCacheFileTest, LayoutFieldByField) {
    TThumbInfo info;
    FillAll(info);
    TMemoryStream records;
    const std::int32_t offset = AppendThumbRecord(records, info);
    ASSERT_EQ(offset, 24);

    test::TTempDir dir;
    const std::string path = dir.File("pixorama.dtd");
    WriteThumbCache(path, 112, 96, Pieces(records),
                    {{0x5A3B4C10, offset, "b.tif"}, {-1, offset, "a.bmp"}});
    const Bytes f = Load(path);

    // Header.
    ASSERT_GE(f.size(), 24u);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "DTDB");
    EXPECT_EQ(U16(f, 4), 256);
    EXPECT_EQ(U16(f, 6), 112);
    EXPECT_EQ(U16(f, 8), 96);
    EXPECT_EQ(U16(f, 10), 0);
    EXPECT_EQ(U32(f, 12), 0u);
    EXPECT_EQ(U32(f, 20), 0u);

    // The record: a 4 x 2 24-bit BMP is 14 + 40 + 2 rows of 12 bytes = 78 bytes.
    std::size_t at = 24;
    EXPECT_EQ(U16(f, at), 21577);
    const std::uint32_t recordLength = U32(f, at + 2);
    at += 6;
    const std::size_t recordEnd = at + recordLength;

    auto f64 = [](double v) {
        Bytes b(8);
        std::memcpy(b.data(), &v, 8);
        return b;
    };
    auto i32 = [](std::int32_t v) {
        Bytes b(4);
        Put32(b, 0, static_cast<std::uint32_t>(v));
        return b;
    };
    auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
    Bytes size = i32(640);
    const Bytes h = i32(480);
    size.insert(size.end(), h.begin(), h.end());
    const Bytes time = {0xEA, 0x07, 12, 0, 2, 0, 8, 0, 9, 0, 30, 0, 15, 0, 250, 0};
    const std::vector<std::pair<std::uint16_t, Bytes>> expected = {
        {16, size},
        {17, i32(921600)},
        {19, i32(24)},
        {18, i32(3)},
        {20, text("a comment\r\nline \xE4")},
        {21, text("author")},
        {22, text("(c)")},
        {128, f64(1500.5)},
        {130, f64(20.0)},
        {129, f64(8.25)},
        {131, f64(-1.5)},
        {132, f64(3.0e-9)},
        {133, i32(-7)},
        {134, text("%s %s")},
        {135, text("Mag,HV")},
        {136, i32(-1)},
        {137, i32(-2)},
        {138, time},
        {139, i32(42)},
        {140, i32(-1)},
        {65535, {}},
    };

    EXPECT_EQ(U16(f, at), 1);
    ASSERT_EQ(U32(f, at + 2), 78u);
    EXPECT_EQ(f.at(at + 6), 'B');
    EXPECT_EQ(f.at(at + 7), 'M');
    EXPECT_EQ(U32(f, at + 6 + 2), 78u);   // bfSize
    EXPECT_EQ(U32(f, at + 6 + 10), 54u);  // bfOffBits
    EXPECT_EQ(U32(f, at + 6 + 14), 40u);  // biSize
    EXPECT_EQ(U32(f, at + 6 + 18), 4u);   // biWidth
    EXPECT_EQ(U32(f, at + 6 + 22), 2u);   // biHeight: bottom-up
    EXPECT_EQ(U16(f, at + 6 + 28), 24);   // biBitCount
    EXPECT_EQ(f.at(at + 6 + 54), 1);      // first pixel byte: seed
    EXPECT_EQ(f.at(at + 6 + 55), 8);
    at += 6 + 78;
    for (const auto& [tag, data] : expected) {
        SCOPED_TRACE(tag);
        ASSERT_LE(at + 6 + data.size(), f.size());
        EXPECT_EQ(U16(f, at), tag);
        ASSERT_EQ(U32(f, at + 2), data.size());
        EXPECT_EQ(Bytes(f.begin() + static_cast<std::ptrdiff_t>(at + 6),
                        f.begin() + static_cast<std::ptrdiff_t>(at + 6 + data.size())),
                  data);
        at += 6 + data.size();
    }
    EXPECT_EQ(at, recordEnd);

    // Directory.
    EXPECT_EQ(U32(f, 16), at);
    EXPECT_EQ(U32(f, at), 2u);
    at += 4;
    EXPECT_EQ(U32(f, at), 0x5A3B4C10u);
    EXPECT_EQ(U32(f, at + 4), 0u);
    EXPECT_EQ(U32(f, at + 8), 24u);
    EXPECT_EQ(U16(f, at + 12), 5);
    EXPECT_EQ(std::string(f.begin() + static_cast<std::ptrdiff_t>(at + 14),
                          f.begin() + static_cast<std::ptrdiff_t>(at + 19)),
              "b.tif");
    at += 19;
    EXPECT_EQ(U32(f, at), 0xFFFFFFFFu);
    EXPECT_EQ(U32(f, at + 8), 24u);
    EXPECT_EQ(U16(f, at + 12), 5);
    at += 19;
    EXPECT_EQ(at, f.size());
}

// ---- The reader's validity rules ----

// A cache file of one record for "a.bmp", its bytes changed by `Damage`, and what opening
// and reading it gives.
enum TOutcome { kOpenFails, kReads, kInvalidRecord, kStreamError, kBmpError, kAnyError };

struct TDamageCase {
    const char* Name;
    std::function<void(Bytes&, std::size_t recordAt, std::size_t dirAt)> Damage;
    TOutcome Expect;
};

void PrintTo(const TDamageCase& c, std::ostream* os) { *os << c.Name; }

class ThumbCacheReaderTest : public ::testing::TestWithParam<TDamageCase> {};

// The case's file in `dir`, made from `info`; returns its path.
std::string DamagedFile(const test::TTempDir& dir, const TThumbInfo& info) {
    TMemoryStream records;
    const std::int32_t offset = AppendThumbRecord(records, info);
    const std::string path = dir.File("pixorama.dtd");
    WriteThumbCache(path, 112, 96, Pieces(records), {{1234, offset, "a.bmp"}});
    Bytes file = Load(path);
    ThumbCacheReaderTest::GetParam().Damage(file, 24, U32(file, 16));
    Save(path, file);
    return path;
}

TEST_P(ThumbCacheReaderTest, OpensAndReadsOnlyWhatIsValid) {
    TThumbInfo info;
    FillAll(info);
    test::TTempDir dir;
    const std::string path = DamagedFile(dir, info);

    TThumbCacheReader reader;
    const bool opened = reader.Open(path, 112, 96);
    if (GetParam().Expect == kOpenFails) {
        EXPECT_FALSE(opened);
        return;
    }
    ASSERT_TRUE(opened);
    TThumbCacheEntry entry;
    TThumbInfo back;
    switch (GetParam().Expect) {
        case kReads:
            ASSERT_TRUE(reader.NextEntry(entry));
            EXPECT_EQ(entry.Name, "a.bmp");
            EXPECT_EQ(entry.FileDate, 1234);
            reader.ReadRecord(entry.Offset, back);
            ExpectSameInfo(info, back);
            EXPECT_FALSE(reader.NextEntry(entry));
            break;
        case kInvalidRecord:
            ASSERT_TRUE(reader.NextEntry(entry));
            try {
                reader.ReadRecord(entry.Offset, back);
                ADD_FAILURE() << "no error";
            } catch (const EStreamError& e) {
                ADD_FAILURE() << "stream error instead: " << e.what();
            } catch (const EPixError& e) {
                EXPECT_EQ(e.Id, SInvalidThumbnailFile.Id);
            }
            break;
        case kStreamError:
            EXPECT_THROW(
                {
                    while (reader.NextEntry(entry)) reader.ReadRecord(entry.Offset, back);
                },
                EStreamError);
            break;
        case kBmpError:
            ASSERT_TRUE(reader.NextEntry(entry));
            try {
                reader.ReadRecord(entry.Offset, back);
                ADD_FAILURE() << "no error";
            } catch (const EPixError& e) {
                EXPECT_EQ(e.Id, SInvalidBmpFormat.Id);
            }
            break;
        case kAnyError:
            ASSERT_TRUE(reader.NextEntry(entry));
            EXPECT_THROW(reader.ReadRecord(entry.Offset, back), EPixError);
            break;
        case kOpenFails:
            break;
    }
}

// The cache file kept open gives the same entries as the file read whole, with thumbnails
// read later equal pixel for pixel, and fails where it fails: at the record, or, for a
// thumbnail that cannot be decoded, when the thumbnail is read.
TEST_P(ThumbCacheReaderTest, FileKeptOpenAgreesWithTheWholeFile) {
    TThumbInfo info;
    FillAll(info);
    test::TTempDir dir;
    const std::string path = DamagedFile(dir, info);
    TThumbCacheReader reader;
    const auto cache = TThumbCacheFile::Open(path, 112, 96);
    ASSERT_EQ(cache != nullptr, reader.Open(path, 112, 96));
    const auto ok = [](const std::function<void()>& read) {
        try {
            read();
            return true;
        } catch (const std::exception&) {
            return false;
        }
    };
    // The next entry; false at the end and where the directory breaks off.
    const auto next = [](auto& from, TThumbCacheEntry& entry) {
        try {
            return from.NextEntry(entry);
        } catch (const EStreamError&) {
            return false;
        }
    };
    TThumbCacheEntry a, b;
    while (cache != nullptr) {
        const bool more = next(reader, a);
        ASSERT_EQ(next(*cache, b), more);
        if (!more) break;
        EXPECT_EQ(std::tie(a.Name, a.Offset, a.FileDate), std::tie(b.Name, b.Offset, b.FileDate));
        TThumbInfo eager, later;
        const bool eagerOk = ok([&] { reader.ReadRecord(a.Offset, eager); });
        ASSERT_EQ(ok([&] { cache->ReadRecord(b.Offset, later); }) &&
                      (!later.Thumbnail || later.Thumbnail.get() != nullptr),
                  eagerOk);
        if (eagerOk) ExpectSameInfo(eager, later);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ThumbCacheReaderTest,
    ::testing::Values(TDamageCase{"Intact", [](Bytes&, std::size_t, std::size_t) {}, kReads},
                      TDamageCase{"WrongMagic",
                                  [](Bytes& f, std::size_t, std::size_t) { f[3] = 'C'; },
                                  kOpenFails},
                      TDamageCase{"OtherBoxWidth",
                                  [](Bytes& f, std::size_t, std::size_t) { Put16(f, 6, 113); },
                                  kOpenFails},
                      TDamageCase{"OtherBoxHeight",
                                  [](Bytes& f, std::size_t, std::size_t) { Put16(f, 8, 95); },
                                  kOpenFails},
                      TDamageCase{"OtherVersion",
                                  [](Bytes& f, std::size_t, std::size_t) { Put16(f, 4, 255); },
                                  kReads},
                      TDamageCase{"ReservedFilled",
                                  [](Bytes& f, std::size_t, std::size_t) {
                                      Put16(f, 10, 0xFFFF);
                                      Put32(f, 12, 0xFFFFFFFF);
                                      Put32(f, 20, 0xFFFFFFFF);
                                  },
                                  kReads},
                      TDamageCase{"ShortHeader",
                                  [](Bytes& f, std::size_t, std::size_t) { f.resize(23); },
                                  kOpenFails},
                      TDamageCase{"Empty", [](Bytes& f, std::size_t, std::size_t) { f.clear(); },
                                  kOpenFails},
                      TDamageCase{"DirectoryOffsetOutside",
                                  [](Bytes& f, std::size_t, std::size_t) {
                                      Put32(f, 16, static_cast<std::uint32_t>(f.size() - 2));
                                  },
                                  kOpenFails},
                      TDamageCase{
                          "DirectoryOffsetHuge",
                          [](Bytes& f, std::size_t, std::size_t) { Put32(f, 16, 0xFFFFFFFE); },
                          kOpenFails},
                      TDamageCase{"BadRecordTag",
                                  [](Bytes& f, std::size_t record, std::size_t) {
                                      Put16(f, record, 0x4954);
                                  },
                                  kInvalidRecord},
                      TDamageCase{
                          "RecordOffsetIntoTheHeader",
                          [](Bytes& f, std::size_t, std::size_t dir) { Put32(f, dir + 4 + 8, 4); },
                          kInvalidRecord},
                      TDamageCase{"RecordOffsetOutside",
                                  [](Bytes& f, std::size_t, std::size_t dir) {
                                      Put32(f, dir + 4 + 8, 0x7FFFFFF0);
                                  },
                                  kStreamError},
                      TDamageCase{"RecordLengthPastTheEnd",
                                  [](Bytes& f, std::size_t record, std::size_t) {
                                      // The end item is overwritten: items are read on into the
                                      // directory.
                                      Put32(f, record + 2, 0x7FFFFFFF);
                                      const std::size_t end = U32(f, 16) - 6;
                                      Put16(f, end, 300);
                                      Put32(f, end + 2, 0x10000);
                                  },
                                  kStreamError},
                      TDamageCase{
                          "DirectoryCut",
                          [](Bytes& f, std::size_t, std::size_t dir) { f.resize(dir + 4 + 10); },
                          kStreamError},
                      TDamageCase{
                          "NameCut",
                          [](Bytes& f, std::size_t, std::size_t) { f.resize(f.size() - 1); },
                          kStreamError},
                      TDamageCase{
                          "CountTooLarge",
                          [](Bytes& f, std::size_t, std::size_t dir) { Put32(f, dir, 0xFFFFFFFF); },
                          kStreamError},
                      TDamageCase{"ThumbnailNotABmp",
                                  [](Bytes& f, std::size_t record, std::size_t) {
                                      f[record + 12] = 'X';  // the "BM" of item 1's data
                                  },
                                  kBmpError},
                      // The BMP's sides as its header states them, checked against the box
                      // before a raster is made: 113 x 1 fits the stored rows, and would be
                      // decoded.
                      TDamageCase{"ThumbnailWiderThanTheBox",
                                  [](Bytes& f, std::size_t record, std::size_t) {
                                      Put32(f, record + 12 + 18, 113);
                                      Put32(f, record + 12 + 22, 1);
                                  },
                                  kInvalidRecord},
                      TDamageCase{"ThumbnailOfNoRows",
                                  [](Bytes& f, std::size_t record, std::size_t) {
                                      Put32(f, record + 12 + 22, 0);
                                  },
                                  kInvalidRecord},
                      TDamageCase{"ThumbnailLongerThanItsItem",
                                  [](Bytes& f, std::size_t record, std::size_t) {
                                      // The BMP is decoded from its item's bytes only, not from
                                      // what follows.
                                      Put32(f, record + 6 + 2, 60);
                                  },
                                  kAnyError}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ThumbCacheReaderTest, MissingFileAndFolderDoNotOpen) {
    test::TTempDir dir;
    TThumbCacheReader reader;
    EXPECT_FALSE(reader.Open(dir.File("pixorama.dtd"), 112, 96));
    EXPECT_FALSE(reader.Open(dir.Path().string(), 112, 96));
    TThumbCacheEntry entry;
    EXPECT_FALSE(reader.NextEntry(entry));
}

TEST(ThumbCacheReaderTest, EmptyDirectory) {
    test::TTempDir dir;
    const std::string path = dir.File("pixorama.dtd");
    WriteThumbCache(path, 1, 65535, {}, {});
    EXPECT_EQ(Load(path).size(), 28u);
    TThumbCacheReader reader;
    ASSERT_TRUE(reader.Open(path, 1, 65535));
    TThumbCacheEntry entry;
    EXPECT_FALSE(reader.NextEntry(entry));
    // A box that does not fit the 16-bit fields never matches a stored one.
    EXPECT_FALSE(reader.Open(path, 1, 65535 + 65536));
    EXPECT_FALSE(reader.Open(path, 1 + 65536, 65535));
}

TEST(ThumbCacheFileTest, RecordsTakenWholeFromAnOlderFile) {
    // A new file made of a record copied from an old file and a record made afresh: the
    // offsets of the second piece count the first.
    TThumbInfo old;
    FillAll(old);
    TMemoryStream oldRecords;
    const std::int32_t oldOffset = AppendThumbRecord(oldRecords, old);
    test::TTempDir dir;
    const std::string oldPath = dir.File("old.dtd");
    WriteThumbCache(oldPath, 112, 96, Pieces(oldRecords), {{5, oldOffset, "old.tif"}});
    const Bytes oldFile = Load(oldPath);
    const auto copied = ThumbRecordBytes(oldFile, oldOffset);
    EXPECT_EQ(copied.size(), oldRecords.Data().size());

    TThumbInfo fresh;
    fresh.Comment = "fresh";
    TMemoryStream freshRecords;
    const std::int32_t freshAt = AppendThumbRecord(freshRecords, fresh);
    const auto freshOffset = static_cast<std::int32_t>(freshAt + copied.size());
    const std::string path = dir.File("pixorama.dtd");
    WriteThumbCache(path, 112, 96, {copied, std::span<const std::uint8_t>(freshRecords.Data())},
                    {{5, 24, "old.tif"}, {6, freshOffset, "new.bmp"}});

    TThumbCacheReader reader;
    ASSERT_TRUE(reader.Open(path, 112, 96));
    TThumbCacheEntry entry;
    TThumbInfo back;
    ASSERT_TRUE(reader.NextEntry(entry));
    reader.ReadRecord(entry.Offset, back);
    ExpectSameInfo(old, back);
    ASSERT_TRUE(reader.NextEntry(entry));
    reader.ReadRecord(entry.Offset, back);
    EXPECT_EQ(back.Comment, "fresh");
    EXPECT_EQ(back.Thumbnail, nullptr);
    EXPECT_FALSE(reader.NextEntry(entry));

    // The copy refuses what the reader refuses.
    EXPECT_THROW(ThumbRecordBytes(oldFile, 4), EPixError);
    EXPECT_THROW(ThumbRecordBytes(oldFile, -1), EStreamError);
    Bytes cut(oldFile.begin(), oldFile.begin() + 40);
    EXPECT_THROW(ThumbRecordBytes(cut, 24), EStreamError);
}

// ---- Writing fails whole ----

// The names in the folder that start with "pixorama.dtd.tmp".
std::vector<std::string> TempFiles(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(dir)) {
        const std::string name = item.path().filename().string();
        if (name.rfind("pixorama.dtd.tmp", 0) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ThumbCacheWriteTest, FailureKeepsWhatWasThereAndLeavesNoTemporaryFile) {
    test::TTempDir dir;
    TThumbInfo info;
    FillAll(info);
    TMemoryStream records;
    const std::int32_t offset = AppendThumbRecord(records, info);
    const std::vector<TThumbCacheEntry> entries = {{1, offset, "a.bmp"}};

    // The target is a folder: the temporary file is made and the rename fails.
    const fs::path target = dir.Path() / "pixorama.dtd";
    fs::create_directory(target);
    test::WriteFile((target / "inside").string(), "old");
    EXPECT_THROW(WriteThumbCache(target.string(), 112, 96, Pieces(records), entries), EOSError);
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_EQ(test::ReadFile((target / "inside").string()), "old");
    EXPECT_TRUE(TempFiles(dir.Path()).empty());

    // The parent is a file: nothing can be made.
    const fs::path file = dir.Path() / "plain";
    test::WriteFile(file.string(), "x");
    EXPECT_THROW(
        WriteThumbCache((file / "pixorama.dtd").string(), 112, 96, Pieces(records), entries),
        EOSError);
    EXPECT_EQ(test::ReadFile(file.string()), "x");
}

TEST(ThumbCacheWriteTest, AStopKeepsTheOldFileAndOldTemporaryFilesAreRemoved) {
    test::TTempDir dir;
    const std::string path = dir.File("pixorama.dtd");
    WriteThumbCache(path, 112, 96, {}, {});
    const std::string before = test::ReadFile(path);
    // Left by writers that were killed: ours when the name is the cache's, ".tmp" and six
    // letters or digits; removed once a day old, since a younger one may be in progress.
    const auto twoDaysAgo = fs::file_time_type::clock::now() - std::chrono::hours(48);
    for (const char* name : {"pixorama.dtd.tmpAb12Cd", "pixorama.dtd.tmpAb12Cde", "x.tmpAb12Cd"}) {
        test::WriteFile(dir.File(name), "left");
        fs::last_write_time(dir.File(name), twoDaysAgo);
    }
    test::WriteFile(dir.File("pixorama.dtd.tmpXy34Zw"), "in progress");
    TThumbInfo info;
    info.DataSize = 5;
    TMemoryStream records;
    const std::int32_t offset = AppendThumbRecord(records, info);
    std::stop_source stop;
    stop.request_stop();
    try {
        WriteThumbCache(path, 112, 96, Pieces(records), {{1, offset, "a.bmp"}}, stop.get_token());
        ADD_FAILURE() << "written despite the stop";
    } catch (const EPixError& e) {
        EXPECT_EQ(e.Id, SThumbCacheWriteCancelled.Id);
    }
    EXPECT_EQ(test::ReadFile(path), before);
    EXPECT_EQ(TempFiles(dir.Path()),
              (std::vector<std::string>{"pixorama.dtd.tmpAb12Cde", "pixorama.dtd.tmpXy34Zw"}));
    EXPECT_TRUE(fs::exists(dir.File("x.tmpAb12Cd")));
}

TEST(ThumbCacheWriteTest, ReadOnlyFolderKeepsTheOldFile) {
    const test::TPermissionsHold permissions;
    if (!permissions.Active()) GTEST_SKIP() << "cannot make a read-only folder hold for root";
    test::TTempDir dir;
    const fs::path sub = dir.Path() / "ro";
    fs::create_directory(sub);
    const std::string path = (sub / "pixorama.dtd").string();
    WriteThumbCache(path, 112, 96, {}, {});
    const std::string before = test::ReadFile(path);
    fs::permissions(sub, fs::perms::owner_write, fs::perm_options::remove);
    TThumbInfo info;
    info.DataSize = 5;
    TMemoryStream records;
    const std::int32_t offset = AppendThumbRecord(records, info);
    EXPECT_THROW(WriteThumbCache(path, 112, 96, Pieces(records), {{1, offset, "a.bmp"}}), EOSError);
    fs::permissions(sub, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(test::ReadFile(path), before);
    EXPECT_TRUE(TempFiles(sub).empty());
}

TEST(ThumbCacheWriteTest, ReplacesAnOlderFileWhole) {
    test::TTempDir dir;
    const std::string path = dir.File("pixorama.dtd");
    test::WriteFile(path, std::string(5000, 'z'));
    TThumbInfo info;
    info.ImageNumber = 3;
    TMemoryStream records;
    const std::int32_t offset = AppendThumbRecord(records, info);
    WriteThumbCache(path, 112, 96, Pieces(records), {{7, offset, "x.png"}});
    EXPECT_EQ(Load(path).size(), 24u + 22u + 4u + 14u + 5u);
    EXPECT_TRUE(TempFiles(dir.Path()).empty());
    TThumbCacheReader reader;
    ASSERT_TRUE(reader.Open(path, 112, 96));
    TThumbCacheEntry entry;
    ASSERT_TRUE(reader.NextEntry(entry));
    TThumbInfo back;
    reader.ReadRecord(entry.Offset, back);
    EXPECT_EQ(back.ImageNumber, 3);
}

// ---- Thumbnails left in the file ----

// What happens to the cache file after its record was read with the thumbnail left in it,
// and whether the thumbnail can still be read, and the record copied into a new file, after.
struct TChangeCase {
    const char* Name;
    std::function<void(const std::string& path, const Bytes& other)> Change;
    bool Readable;
};

void PrintTo(const TChangeCase& c, std::ostream* os) { *os << c.Name; }

class ThumbCacheLaterTest : public ::testing::TestWithParam<TChangeCase> {};

// A file removed or replaced under its name is still read as it was opened. One cut short or
// rewritten in place (by another instance on a network share, here with a record of the
// same size and other pixels) never hands the entry another thumbnail: it has none, and a
// copy of the record into a new file fails whole.
TEST_P(ThumbCacheLaterTest, SurviveOnlyAnUnchangedFile) {
    test::TTempDir dir, copyDir;
    const std::string path = dir.File("pixorama.dtd");
    const std::string otherPath = dir.File("other.dtd");
    const std::string copy = copyDir.File("pixorama.dtd");
    TThumbInfo info;
    TMemoryStream mine, theirs;
    info.Thumbnail = SmallThumbnail(1);
    const std::vector<TThumbCacheEntry> entries = {{1, AppendThumbRecord(mine, info), "a.bmp"}};
    info.Thumbnail = SmallThumbnail(50);
    AppendThumbRecord(theirs, info);
    WriteThumbCache(path, 112, 96, Pieces(mine), entries);
    WriteThumbCache(otherPath, 112, 96, Pieces(theirs), entries);
    // Written a while ago, as a cache file found in a folder is.
    fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(1));
    const Bytes original = Load(path);

    const auto cache = TThumbCacheFile::Open(path, 112, 96);
    ASSERT_NE(cache, nullptr);
    TThumbInfo back;
    const std::int64_t size = cache->ReadRecord(entries[0].Offset, back);
    GetParam().Change(path, Load(otherPath));
    const std::vector<TThumbCachePiece> pieces = {{*cache, entries[0].Offset, size}};
    if (GetParam().Readable) {
        EXPECT_EQ(PixelsOf(back.Thumbnail.get()), PixelsOf(SmallThumbnail(1).get()));
        WriteThumbCache(copy, 112, 96, pieces, entries);
        EXPECT_EQ(Load(copy), original);
    } else {
        EXPECT_EQ(back.Thumbnail.get(), nullptr);
        EXPECT_FALSE(back.Thumbnail);
        EXPECT_THROW(WriteThumbCache(copy, 112, 96, pieces, entries), EStreamError);
        EXPECT_TRUE(fs::is_empty(copyDir.Path()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ThumbCacheLaterTest,
    ::testing::Values(
        TChangeCase{"Unchanged", [](const std::string&, const Bytes&) {}, true},
        TChangeCase{"Removed", [](const std::string& path, const Bytes&) { fs::remove(path); },
                    true},
        TChangeCase{"ReplacedUnderItsName",
                    [](const std::string& path, const Bytes& other) {
                        Save(path + ".new", other);
                        fs::rename(path + ".new", path);
                    },
                    true},
        TChangeCase{"CutShort",
                    [](const std::string& path, const Bytes&) {
                        fs::resize_file(path, fs::file_size(path) - 8);
                    },
                    false},
        TChangeCase{"RewrittenInPlace",
                    [](const std::string& path, const Bytes& other) { Save(path, other); }, false}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace pix
