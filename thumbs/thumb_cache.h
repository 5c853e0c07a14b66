// SPDX-License-Identifier: MIT
// The folder's thumbnail cache file "pixorama.dtd": thumbnail records and their directory.
//
// All numbers are little-endian. The file is a 24-byte header ("DTDB", version 256, the
// thumbnail box, the directory's offset), the records back to back, then the directory:
// a 32-bit count and per file its date, its record's offset and its name. A record is a
// 6-byte header (tag "IT", length of what follows) and items, each a 6-byte header (tag,
// data length) and its data, ending with item 65535.
#pragma once

#include "imaging/stream.h"
#include "thumbs/thumb_info.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

namespace pix {

inline constexpr char kThumbCacheName[] = "pixorama.dtd";
inline constexpr std::uint16_t kThumbCacheVersion = 256;
inline constexpr std::int64_t kThumbCacheHeaderSize = 24;
inline constexpr std::uint16_t kThumbRecordTag = 21577;  // "IT"
inline constexpr std::int64_t kThumbItemHeaderSize = 6;
inline constexpr std::int64_t kThumbDirEntrySize = 14;

// Item tags of a record and the members they hold.
enum : std::uint16_t {
    itThumbnail = 1,  // a BMP file image
    itSize = 16,      // Width, Height
    itDataSize = 17,
    itImageCount = 18,
    itBitCount = 19,
    itComment = 20,
    itAuthor = 21,
    itCopyright = 22,
    itMagnification = 128,
    itWorkingDistance = 129,
    itHighVoltage = 130,
    itParamValue3 = 131,
    itParamValue4 = 132,
    itParamValue6 = 133,
    itParamFormat = 134,
    itParamNames = 135,
    itLinescanData = 136,
    itPointscanData = 137,
    itRecordTime = 138,
    itImageNumber = 139,
    itMeasurementData = 140,
    itEnd = 65535,
};

// Reads the record at `offset` of the cache file's bytes into `info`, which is cleared
// first; FileDate is left 0. Throws EPixError("Invalid thumbnail file") when the record
// does not start with its tag or its thumbnail is empty or larger than the box
// boxWidth x boxHeight, EStreamError when it runs past the end of the bytes or an item runs
// past the record's length, and the BMP reader's error when the thumbnail item cannot be
// decoded. The thumbnail item is decoded from its own bytes only, and only once its
// header has passed the size check.
void ReadThumbRecord(std::span<const std::uint8_t> file, std::int64_t offset, TThumbInfo& info,
                     int boxWidth, int boxHeight);

// The bytes of the record at `offset`: its header and the length the header gives. Throws
// EPixError("Invalid thumbnail file") for a wrong tag and EStreamError past the end.
std::span<const std::uint8_t> ThumbRecordBytes(std::span<const std::uint8_t> file,
                                               std::int64_t offset);

// Appends the record of `info` at the end of `cache`, which holds the records that follow
// the file's header, and returns the record's offset in the file (its place in `cache`
// plus the header size). Items follow in the fixed order; members that are zero or empty
// are left out.
std::int32_t AppendThumbRecord(TMemoryStream& cache, const TThumbInfo& info);

class TReadFile;

// One directory entry.
struct TThumbCacheEntry {
    std::int32_t FileDate = 0;
    std::int32_t Offset = 0;
    std::string Name;
};

// A cache file read whole, with its header checked and its directory walked entry by entry.
class TThumbCacheReader {
public:
    // False, without an exception, when the file is missing or cannot be read, or its
    // header is short, lacks "DTDB" or was made for another thumbnail box. The version is
    // not checked.
    bool Open(const std::string& fileName, int thumbWidth, int thumbHeight);
    // The next directory entry; false after the last. Throws EStreamError when the
    // directory runs past the end of the file.
    bool NextEntry(TThumbCacheEntry& entry);
    // The record of an entry, as ReadThumbRecord with the box the file was opened for.
    void ReadRecord(std::int32_t offset, TThumbInfo& info) const;
    // The whole file; valid while the reader lives.
    std::span<const std::uint8_t> Bytes() const { return FBytes; }

private:
    std::unique_ptr<class TFileView> FView;
    std::span<const std::uint8_t> FBytes;
    std::uint32_t FRemaining = 0;
    std::int64_t FPosition = 0;
    int FBoxWidth = 0;
    int FBoxHeight = 0;
};

// A cache file kept open while entries read their thumbnails from it: the records are read
// by offset, the thumbnails' pixels not at all until an entry asks for them. Its bytes are
// never mapped, so a file that shrinks or is rewritten underneath cannot fault; every
// thumbnail read later is checked again, and refused once the file has changed.
class TThumbCacheFile final : public TThumbSource,
                              public std::enable_shared_from_this<TThumbCacheFile> {
public:
    // Null, without an exception, where TThumbCacheReader::Open gives false.
    static std::shared_ptr<TThumbCacheFile> Open(const std::string& fileName, int thumbWidth,
                                                 int thumbHeight);
    ~TThumbCacheFile() override;

    // The scan: one thread at a time.
    // The next directory entry; false after the last. Throws EStreamError when the
    // directory runs past the end of the file.
    bool NextEntry(TThumbCacheEntry& entry);
    // The record at `offset` as ReadThumbRecord, except that the thumbnail stays in the file
    // (after a check of its headers) and is read when the entry first asks for it. Returns
    // the record's size in the file, its header included.
    std::int64_t ReadRecord(std::int64_t offset, TThumbInfo& info);
    // The size of the record at `offset`, its header included; errors as ThumbRecordBytes.
    std::int64_t RecordSize(std::int64_t offset) const;

    // Any thread.
    std::unique_ptr<TBmpPicture> ReadThumbnail(std::int64_t offset,
                                               std::uint32_t length) const noexcept override;
    // Hands bytes [offset, offset + count) to `sink` in pieces. Throws EStreamError when
    // they are no longer all there or the file has changed since it was opened.
    void Copy(std::int64_t offset, std::int64_t count,
              const std::function<void(std::span<const std::uint8_t>)>& sink) const;
    // The file's size or date moved since it was opened.
    bool Changed() const;

private:
    struct TOpenTag {};

public:
    explicit TThumbCacheFile(TOpenTag) {}

private:
    // Bytes [offset, offset + count) through a block read ahead, valid until the next call.
    struct TBlock {
        std::vector<std::uint8_t> Bytes;
        std::size_t Length = 0;  // of Bytes, the ones read
        std::int64_t Start = 0;
    };
    std::span<const std::uint8_t> Read(TBlock& block, std::int64_t offset, std::size_t count);

    std::unique_ptr<TReadFile> FFile;
    int FBoxWidth = 0;
    int FBoxHeight = 0;
    std::uint32_t FRemaining = 0;
    std::int64_t FPosition = 0;
    TBlock FDirectoryBlock;
    TBlock FRecordBlock;
};

// A piece of a cache file's records: bytes in memory, or a range of an older cache file
// that is copied from it while the new file is written.
struct TThumbCachePiece {
    TThumbCachePiece(std::span<const std::uint8_t> bytes) : Bytes(bytes) {}
    TThumbCachePiece(const TThumbCacheFile& file, std::int64_t offset, std::int64_t length)
        : File(&file), Offset(offset), Length(length) {}
    std::int64_t Size() const {
        return File != nullptr ? Length : static_cast<std::int64_t>(Bytes.size());
    }
    std::span<const std::uint8_t> Bytes;
    const TThumbCacheFile* File = nullptr;
    std::int64_t Offset = 0;
    std::int64_t Length = 0;
};

// Writes a complete cache file: header, the records (the pieces of `records` back to back,
// each made by AppendThumbRecord or taken whole from an older cache file), the directory of
// `entries` in their order. A piece of an older file that can no longer be read as it was
// ends the write with EStreamError. The file appears whole or not at all: it is written under a
// temporary name beside the target and renamed over it, and any failure removes the
// temporary file, keeps an older cache and raises the error. A stop requested through
// `stop` ends the write the same way, with EPixError("Thumbnail cache write cancelled").
// Temporary files of earlier writes that were killed, older than a day, are removed first.
void WriteThumbCache(const std::string& fileName, int thumbWidth, int thumbHeight,
                     const std::vector<TThumbCachePiece>& records,
                     const std::vector<TThumbCacheEntry>& entries, std::stop_token stop = {});


}  // namespace pix
