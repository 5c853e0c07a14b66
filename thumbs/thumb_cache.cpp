// SPDX-License-Identifier: MIT
#include "thumbs/thumb_cache.h"

#include "formats/bmp_picture.h"

#include "platform/byte_order.h"
#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/res_strings.h"
#include "platform/span_reader.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

namespace pix {
namespace {

// Fixed-size members are read from the start of their item; a shorter item is a bad record.
template <typename T>
void ReadFixed(const TSpanReader& reader, std::int64_t at, std::uint32_t length, T& member) {
    if (length < sizeof(T)) throw EStreamError(SReadError);
    const auto bytes = reader.SubSpan(static_cast<std::uint64_t>(at), sizeof(T));
    std::memcpy(&member, bytes.data(), sizeof(T));
}

void ReadText(const TSpanReader& reader, std::int64_t at, std::uint32_t length,
              std::string& member) {
    const auto bytes = reader.SubSpan(static_cast<std::uint64_t>(at), length);
    member.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A thumbnail is never larger than the box it was made for. The sides are taken from the
// BMP's headers before anything is decoded: a few bytes may declare a raster of gigabytes,
// and a cache file is reused as it stands, so it would cost that at every visit.
void CheckThumbnailSize(std::span<const std::uint8_t> bmp, int boxWidth, int boxHeight) {
    const TSpanReader reader(bmp);
    constexpr std::uint64_t kInfoAt = 14;  // after the BMP file header
    // Too short for the sides: the BMP reader refuses such an item with its own message.
    if (!reader.Contains(kInfoAt, 12)) return;
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (reader.U32(kInfoAt) == 12) {  // the OS/2 core header: 16-bit sides
        width = reader.U16(kInfoAt + 4);
        height = reader.U16(kInfoAt + 6);
    } else {
        width = static_cast<std::int32_t>(reader.U32(kInfoAt + 4));
        height = static_cast<std::int32_t>(reader.U32(kInfoAt + 8));
        if (height < 0) height = -height;  // top-down rows
    }
    if (width <= 0 || height <= 0 || width > boxWidth || height > boxHeight)
        throw EPixError(SInvalidThumbnailFile);
}

void PutU16(std::uint8_t* p, std::uint16_t v) { StoreLE16(p, v); }
void PutU32(std::uint8_t* p, std::uint32_t v) { StoreLE32(p, v); }

void WriteHeader(TStream& stream, std::uint16_t tag, std::uint32_t length) {
    std::uint8_t bytes[kThumbItemHeaderSize];
    PutU16(bytes, tag);
    PutU32(bytes + 2, length);
    stream.WriteBuffer(bytes, sizeof bytes);
}

// The length of what follows a header written at `start`, which must fit 32 bits.
std::uint32_t LengthSince(TStream& stream, std::int64_t start) {
    const std::int64_t length = stream.Size() - start - kThumbItemHeaderSize;
    if (length > std::numeric_limits<std::int32_t>::max()) throw EPixError(SThumbCacheTooLarge);
    return static_cast<std::uint32_t>(length);
}

template <typename T>
void WriteItem(TStream& stream, std::uint16_t tag, const T& value) {
    WriteHeader(stream, tag, sizeof(T));
    stream.WriteBuffer(&value, sizeof(T));
}

void WriteText(TStream& stream, std::uint16_t tag, const std::string& text) {
    if (text.empty()) return;
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw EPixError(SThumbCacheTooLarge);
    WriteHeader(stream, tag, static_cast<std::uint32_t>(text.size()));
    stream.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}

template <typename T>
void WriteNonZero(TStream& stream, std::uint16_t tag, T value) {
    if (value != 0) WriteItem(stream, tag, value);
}

// A cache file's header: "DTDB", the box (the version is not checked), and a directory
// offset that leaves room for the entry count in a file of `size` bytes.
bool HeaderFits(std::span<const std::uint8_t> header, std::int64_t size, int thumbWidth,
                int thumbHeight) {
    const TSpanReader reader(header);
    if (!reader.Contains(0, kThumbCacheHeaderSize)) return false;
    if (std::memcmp(header.data(), "DTDB", 4) != 0) return false;
    if (thumbWidth < 0 || thumbHeight < 0 || thumbWidth > 0xFFFF || thumbHeight > 0xFFFF ||
        reader.U16(6) != thumbWidth || reader.U16(8) != thumbHeight)
        return false;
    return std::int64_t{reader.U32(16)} + 4 <= size;
}

}  // namespace

namespace {

// Where ParseRecord leaves a record's thumbnail instead of decoding it: in `Source`, whose
// byte 0 of the parsed bytes lies at `Base`.
struct TDeferTo {
    std::shared_ptr<const TThumbSource> Source;
    std::int64_t Base = 0;
};

// The thumbnail item's BMP headers, as the reader takes them, and for rows stored plainly,
// that the item holds all of them: the pixels are decoded only when the entry asks for
// them, and a thumbnail that fails then would be reused as it stands at every visit.
void CheckThumbnailHeaders(std::span<const std::uint8_t> bmp) {
    TSpanStream stream(bmp);
    TBmpPicture probe;
    probe.ReadFileHeader(stream);
    std::unique_ptr<TDibInfo> header;
    probe.ReadHeader(stream, header);

    const TSpanReader reader(bmp);
    const std::uint32_t pixels = reader.U32(10);
    const std::uint32_t headerSize = reader.U32(14);
    const bool core = headerSize == 12;
    const std::int64_t width = core ? reader.U16(18) : static_cast<std::int32_t>(reader.U32(18));
    std::int64_t height = core ? reader.U16(20) : static_cast<std::int32_t>(reader.U32(22));
    const std::int64_t bits = reader.U16(core ? 24 : 28);
    const std::uint32_t compression = core ? 0 : reader.U32(30);
    constexpr std::uint32_t kBiRgb = 0, kBiBitfields = 3;
    if (compression != kBiRgb && compression != kBiBitfields) return;
    if (pixels < 14 + headerSize) return;  // placed after the headers and colours by the reader
    if (height < 0) height = -height;
    const std::int64_t stride = (width * bits + 31) / 32 * 4;
    if (static_cast<std::int64_t>(bmp.size()) < std::int64_t{pixels} + stride * height)
        throw EStreamError(SReadError);
}

std::unique_ptr<TBmpPicture> DecodeThumbnail(std::span<const std::uint8_t> bmp, int boxWidth,
                                             int boxHeight) {
    CheckThumbnailSize(bmp, boxWidth, boxHeight);
    TSpanStream stream(bmp);
    auto thumbnail = std::make_unique<TBmpPicture>();
    thumbnail->ReadFileHeader(stream);
    thumbnail->LoadFromStream(stream);
    return thumbnail;
}

void ParseRecord(std::span<const std::uint8_t> file, std::int64_t offset, TThumbInfo& info,
                 int boxWidth, int boxHeight, const TDeferTo* defer) {
    info.Clear();
    const TSpanReader reader(file);
    if (offset < 0) throw EStreamError(SReadError);
    const auto start = static_cast<std::uint64_t>(offset);
    if (reader.U16(start) != kThumbRecordTag) throw EPixError(SInvalidThumbnailFile);
    const std::uint64_t length = reader.U32(start + 2);

    std::uint64_t consumed = 0;
    std::uint64_t at = start + kThumbItemHeaderSize;
    while (consumed < length) {
        const std::uint16_t tag = reader.U16(at);
        const std::uint32_t size = reader.U32(at + 2);
        // Every item lies inside its record: a reused record is copied by the length in its
        // header, and an item reaching past that would be cut off in the copy.
        if (consumed + kThumbItemHeaderSize + std::uint64_t{size} > length)
            throw EStreamError(SReadError);
        const auto data = static_cast<std::int64_t>(at + kThumbItemHeaderSize);
        switch (tag) {
            case itThumbnail: {
                const auto bytes = reader.SubSpan(static_cast<std::uint64_t>(data), size);
                if (defer != nullptr) {
                    CheckThumbnailSize(bytes, boxWidth, boxHeight);
                    CheckThumbnailHeaders(bytes);
                    info.Thumbnail.Defer(defer->Source, defer->Base + data, size);
                } else {
                    info.Thumbnail = DecodeThumbnail(bytes, boxWidth, boxHeight);
                }
                break;
            }
            case itSize: {
                std::int32_t size2[2];
                ReadFixed(reader, data, size, size2);
                info.Width = size2[0];
                info.Height = size2[1];
                break;
            }
            case itDataSize:
                ReadFixed(reader, data, size, info.DataSize);
                break;
            case itImageCount:
                ReadFixed(reader, data, size, info.ImageCount);
                break;
            case itBitCount:
                ReadFixed(reader, data, size, info.BitCount);
                break;
            case itComment:
                ReadText(reader, data, size, info.Comment);
                break;
            case itAuthor:
                ReadText(reader, data, size, info.Author);
                break;
            case itCopyright:
                ReadText(reader, data, size, info.Copyright);
                break;
            case itMagnification:
                ReadFixed(reader, data, size, info.Magnification);
                break;
            case itWorkingDistance:
                ReadFixed(reader, data, size, info.WorkingDistance);
                break;
            case itHighVoltage:
                ReadFixed(reader, data, size, info.HighVoltage);
                break;
            case itParamValue3:
                ReadFixed(reader, data, size, info.ParamValue3);
                break;
            case itParamValue4:
                ReadFixed(reader, data, size, info.ParamValue4);
                break;
            case itParamValue6:
                ReadFixed(reader, data, size, info.ParamValue6);
                break;
            case itParamFormat:
                ReadText(reader, data, size, info.ParamFormat);
                break;
            case itParamNames:
                ReadText(reader, data, size, info.ParamNames);
                break;
            case itLinescanData:
                ReadFixed(reader, data, size, info.LinescanData);
                break;
            case itPointscanData:
                ReadFixed(reader, data, size, info.PointscanData);
                break;
            case itRecordTime:
                ReadFixed(reader, data, size, info.RecordTime);
                break;
            case itImageNumber:
                ReadFixed(reader, data, size, info.ImageNumber);
                break;
            case itMeasurementData:
                ReadFixed(reader, data, size, info.MeasurementData);
                break;
            case itEnd:
                return;
            default:
                break;  // an item of a later version: skipped
        }
        // Every item ends where its length says, whatever its member took.
        at += kThumbItemHeaderSize + std::uint64_t{size};
        consumed += kThumbItemHeaderSize + std::uint64_t{size};
    }
}

}  // namespace

void ReadThumbRecord(std::span<const std::uint8_t> file, std::int64_t offset, TThumbInfo& info,
                     int boxWidth, int boxHeight) {
    ParseRecord(file, offset, info, boxWidth, boxHeight, nullptr);
}

std::span<const std::uint8_t> ThumbRecordBytes(std::span<const std::uint8_t> file,
                                               std::int64_t offset) {
    const TSpanReader reader(file);
    if (offset < 0) throw EStreamError(SReadError);
    const auto start = static_cast<std::uint64_t>(offset);
    if (reader.U16(start) != kThumbRecordTag) throw EPixError(SInvalidThumbnailFile);
    return reader.SubSpan(start, kThumbItemHeaderSize + std::uint64_t{reader.U32(start + 2)});
}

std::int32_t AppendThumbRecord(TMemoryStream& cache, const TThumbInfo& info) {
    const std::int64_t start = cache.Size();
    if (start > std::numeric_limits<std::int32_t>::max() - kThumbCacheHeaderSize)
        throw EPixError(SThumbCacheTooLarge);
    const auto offset = static_cast<std::int32_t>(start + kThumbCacheHeaderSize);
    cache.Seek(0, soFromEnd);
    WriteHeader(cache, kThumbRecordTag, 0);

    if (info.Thumbnail) {
        const std::int64_t item = cache.Size();
        WriteHeader(cache, itThumbnail, 0);
        info.Thumbnail->WriteFileHeader(cache);
        info.Thumbnail->WriteData(cache, false);
        const std::uint32_t length = LengthSince(cache, item);
        cache.Seek(item, soFromBeginning);
        WriteHeader(cache, itThumbnail, length);
        cache.Seek(0, soFromEnd);
    }
    if (info.Width != 0 && info.Height != 0) {
        const std::int32_t size[2] = {info.Width, info.Height};
        WriteItem(cache, itSize, size);
    }
    WriteNonZero(cache, itDataSize, info.DataSize);
    WriteNonZero(cache, itBitCount, info.BitCount);
    WriteNonZero(cache, itImageCount, info.ImageCount);
    WriteText(cache, itComment, info.Comment);
    WriteText(cache, itAuthor, info.Author);
    WriteText(cache, itCopyright, info.Copyright);
    WriteNonZero(cache, itMagnification, info.Magnification);
    WriteNonZero(cache, itHighVoltage, info.HighVoltage);
    WriteNonZero(cache, itWorkingDistance, info.WorkingDistance);
    WriteNonZero(cache, itParamValue3, info.ParamValue3);
    WriteNonZero(cache, itParamValue4, info.ParamValue4);
    WriteNonZero(cache, itParamValue6, info.ParamValue6);
    WriteText(cache, itParamFormat, info.ParamFormat);
    WriteText(cache, itParamNames, info.ParamNames);
    WriteNonZero(cache, itLinescanData, info.LinescanData);
    WriteNonZero(cache, itPointscanData, info.PointscanData);
    if (info.RecordTime.wYear != 0) WriteItem(cache, itRecordTime, info.RecordTime);
    WriteNonZero(cache, itImageNumber, info.ImageNumber);
    WriteNonZero(cache, itMeasurementData, info.MeasurementData);
    WriteHeader(cache, itEnd, 0);

    const std::uint32_t length = LengthSince(cache, start);
    cache.Seek(start, soFromBeginning);
    WriteHeader(cache, kThumbRecordTag, length);
    cache.Seek(0, soFromEnd);
    return offset;
}

bool TThumbCacheReader::Open(const std::string& fileName, int thumbWidth, int thumbHeight) {
    FView.reset();
    FBytes = {};
    FRemaining = 0;
    try {
        // The header first: a file of any size that is no cache file for this box is not
        // read whole.
        const TFileHead head = ReadFileHead(fileName, kThumbCacheHeaderSize);
        if (!HeaderFits(head.Bytes, head.Size, thumbWidth, thumbHeight)) return false;
        FView = TFileView::Open(fileName, fmOpenRead | fmShareDenyWrite);
    } catch (const EPixError&) {
        return false;  // missing, empty or unreadable: nothing to reuse
    }
    FBytes = FView->Bytes();
    FBoxWidth = thumbWidth;
    FBoxHeight = thumbHeight;
    // Checked again: the file may have been replaced in between.
    if (!HeaderFits(FBytes, static_cast<std::int64_t>(FBytes.size()), thumbWidth, thumbHeight))
        return false;
    const TSpanReader reader(FBytes);
    FPosition = reader.U32(16);
    // The count is read here, so a directory offset outside the file fails at once.
    try {
        FRemaining = reader.U32(static_cast<std::uint64_t>(FPosition));
    } catch (const EStreamError&) {
        return false;
    }
    FPosition += 4;
    return true;
}

bool TThumbCacheReader::NextEntry(TThumbCacheEntry& entry) {
    if (FRemaining == 0) return false;
    const TSpanReader reader(FBytes);
    const auto at = static_cast<std::uint64_t>(FPosition);
    entry.FileDate = static_cast<std::int32_t>(reader.U32(at));
    entry.Offset = static_cast<std::int32_t>(reader.U32(at + 8));
    const std::uint16_t nameLength = reader.U16(at + 12);
    const auto name = reader.SubSpan(at + kThumbDirEntrySize, nameLength);
    entry.Name.assign(reinterpret_cast<const char*>(name.data()), name.size());
    FPosition += kThumbDirEntrySize + nameLength;
    --FRemaining;
    return true;
}

void TThumbCacheReader::ReadRecord(std::int32_t offset, TThumbInfo& info) const {
    ReadThumbRecord(FBytes, offset, info, FBoxWidth, FBoxHeight);
}

// ---------------------------------------------------------------------------------------
// TThumbCacheFile

namespace {

// Blocks read ahead while the directory and the records are walked in order.
constexpr std::size_t kReadBlock = std::size_t{1} << 20;

}  // namespace

std::shared_ptr<TThumbCacheFile> TThumbCacheFile::Open(const std::string& fileName, int thumbWidth,
                                                       int thumbHeight) {
    auto cache = std::make_shared<TThumbCacheFile>(TOpenTag{});
    try {
        cache->FFile = TReadFile::Open(fileName);
        std::uint8_t header[kThumbCacheHeaderSize] = {};
        const std::size_t got = cache->FFile->ReadAt(0, header, sizeof header);
        if (!HeaderFits(std::span(header, got), cache->FFile->Size(), thumbWidth, thumbHeight))
            return nullptr;
        cache->FBoxWidth = thumbWidth;
        cache->FBoxHeight = thumbHeight;
        cache->FPosition = LoadLE32(header + 16);
        // The count is read here, so a directory offset outside the file fails at once.
        cache->FRemaining =
            LoadLE32(cache->Read(cache->FDirectoryBlock, cache->FPosition, 4).data());
        cache->FPosition += 4;
    } catch (const EPixError&) {
        return nullptr;  // missing, unreadable or cut short: nothing to reuse
    }
    return cache;
}

TThumbCacheFile::~TThumbCacheFile() = default;

std::span<const std::uint8_t> TThumbCacheFile::Read(TBlock& block, std::int64_t offset,
                                                    std::size_t count) {
    if (offset < 0) throw EStreamError(SReadError);
    const std::int64_t end = offset + static_cast<std::int64_t>(count);
    if (offset < block.Start || end > block.Start + static_cast<std::int64_t>(block.Length)) {
        if (end > FFile->Size()) throw EStreamError(SReadError);
        // Never beyond the size at open: a file grown since is no concern of this scan.
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(
            FFile->Size() - offset, static_cast<std::int64_t>(std::max(count, kReadBlock))));
        if (block.Bytes.size() < want) block.Bytes.resize(want);
        block.Length = 0;
        block.Length = FFile->ReadAt(offset, block.Bytes.data(), want);
        block.Start = offset;
        if (block.Length < count) throw EStreamError(SReadError);  // shrunk since it was opened
    }
    return std::span(block.Bytes).subspan(static_cast<std::size_t>(offset - block.Start), count);
}

bool TThumbCacheFile::NextEntry(TThumbCacheEntry& entry) {
    if (FRemaining == 0) return false;
    const auto head = Read(FDirectoryBlock, FPosition, kThumbDirEntrySize);
    entry.FileDate = static_cast<std::int32_t>(LoadLE32(head.data()));
    entry.Offset = static_cast<std::int32_t>(LoadLE32(head.data() + 8));
    const std::uint16_t nameLength = LoadLE16(head.data() + 12);
    const auto name = Read(FDirectoryBlock, FPosition + kThumbDirEntrySize, nameLength);
    entry.Name.assign(reinterpret_cast<const char*>(name.data()), name.size());
    FPosition += kThumbDirEntrySize + nameLength;
    --FRemaining;
    return true;
}

std::int64_t TThumbCacheFile::RecordSize(std::int64_t offset) const {
    std::uint8_t header[kThumbItemHeaderSize];
    if (offset < 0 || FFile->ReadAt(offset, header, sizeof header) < sizeof header)
        throw EStreamError(SReadError);
    if (LoadLE16(header) != kThumbRecordTag) throw EPixError(SInvalidThumbnailFile);
    const std::int64_t size = kThumbItemHeaderSize + std::int64_t{LoadLE32(header + 2)};
    if (offset + size > FFile->Size()) throw EStreamError(SReadError);
    return size;
}

std::int64_t TThumbCacheFile::ReadRecord(std::int64_t offset, TThumbInfo& info) {
    info.Clear();
    const auto header = Read(FRecordBlock, offset, kThumbItemHeaderSize);
    if (LoadLE16(header.data()) != kThumbRecordTag) throw EPixError(SInvalidThumbnailFile);
    const std::int64_t size = kThumbItemHeaderSize + std::int64_t{LoadLE32(header.data() + 2)};
    if (offset + size > FFile->Size()) throw EStreamError(SReadError);
    const auto record = Read(FRecordBlock, offset, static_cast<std::size_t>(size));
    const TDeferTo defer{shared_from_this(), offset};
    ParseRecord(record, 0, info, FBoxWidth, FBoxHeight, &defer);
    return size;
}

std::unique_ptr<TBmpPicture> TThumbCacheFile::ReadThumbnail(std::int64_t offset,
                                                            std::uint32_t length) const noexcept {
    try {
        // The item as it was found: its header in front of the same number of bytes, in a
        // file whose size and date have not moved since. Another instance that rewrote the
        // file in place would otherwise hand this entry another file's thumbnail.
        if (Changed() || offset < kThumbItemHeaderSize) return nullptr;
        std::vector<std::uint8_t> bytes(kThumbItemHeaderSize + std::size_t{length});
        if (FFile->ReadAt(offset - kThumbItemHeaderSize, bytes.data(), bytes.size()) < bytes.size())
            return nullptr;
        if (LoadLE16(bytes.data()) != itThumbnail || LoadLE32(bytes.data() + 2) != length)
            return nullptr;
        auto thumbnail =
            DecodeThumbnail(std::span(bytes).subspan(kThumbItemHeaderSize), FBoxWidth, FBoxHeight);
        if (Changed()) return nullptr;  // rewritten while it was read
        return thumbnail;
    } catch (...) {
        return nullptr;
    }
}

void TThumbCacheFile::Copy(std::int64_t offset, std::int64_t count,
                           const std::function<void(std::span<const std::uint8_t>)>& sink) const {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(
        std::clamp<std::int64_t>(count, 0, static_cast<std::int64_t>(4 * kReadBlock))));
    while (count > 0) {
        const auto want =
            static_cast<std::size_t>(std::min<std::int64_t>(count, std::ssize(buffer)));
        if (Changed() || FFile->ReadAt(offset, buffer.data(), want) < want)
            throw EStreamError(SReadError);
        sink(std::span(buffer.data(), want));
        offset += static_cast<std::int64_t>(want);
        count -= static_cast<std::int64_t>(want);
    }
    if (Changed()) throw EStreamError(SReadError);
}

bool TThumbCacheFile::Changed() const { return FFile->Changed(); }

// ---------------------------------------------------------------------------------------
// Writing

void WriteThumbCache(const std::string& fileName, int thumbWidth, int thumbHeight,
                     const std::vector<TThumbCachePiece>& records,
                     const std::vector<TThumbCacheEntry>& entries, std::stop_token stop) {
    RemoveStaleTemporaryFiles(fileName, std::chrono::hours(24));
    std::uint64_t recordsSize = 0;
    for (const auto& piece : records) recordsSize += static_cast<std::uint64_t>(piece.Size());
    if (recordsSize > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max() -
                                                 kThumbCacheHeaderSize))
        throw EPixError(SThumbCacheTooLarge);
    TMemoryStream directory;
    std::uint8_t count[4] = {};
    directory.WriteBuffer(count, sizeof count);
    std::uint32_t written = 0;
    for (const TThumbCacheEntry& entry : entries) {
        if (entry.Name.size() > 0xFFFF) continue;  // cannot be stored; made again next time
        std::uint8_t bytes[kThumbDirEntrySize] = {};
        PutU32(bytes, static_cast<std::uint32_t>(entry.FileDate));
        PutU32(bytes + 8, static_cast<std::uint32_t>(entry.Offset));
        PutU16(bytes + 12, static_cast<std::uint16_t>(entry.Name.size()));
        directory.WriteBuffer(bytes, sizeof bytes);
        directory.WriteBuffer(entry.Name.data(), static_cast<std::int64_t>(entry.Name.size()));
        ++written;
    }
    PutU32(directory.Data().data(), written);

    std::uint8_t header[kThumbCacheHeaderSize] = {'D', 'T', 'D', 'B'};
    PutU16(header + 4, kThumbCacheVersion);
    PutU16(header + 6, static_cast<std::uint16_t>(thumbWidth));
    PutU16(header + 8, static_cast<std::uint16_t>(thumbHeight));
    PutU32(header + 16, static_cast<std::uint32_t>(recordsSize + kThumbCacheHeaderSize));

    TAtomicFile file(fileName);
    // In pieces, so that a stop (the program asked to end) does not wait for a file of
    // hundreds of megabytes; the temporary file then goes with `file`.
    const auto write = [&](std::span<const std::uint8_t> bytes) {
        constexpr std::size_t kPiece = std::size_t{4} << 20;
        for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
            if (stop.stop_requested()) throw EPixError(SThumbCacheWriteCancelled);
            const std::size_t count = std::min(kPiece, bytes.size() - at);
            file.Write(bytes.data() + at, count);
        }
    };
    file.Write(header, sizeof header);
    // Ranges of an older file that follow one another are copied in one go.
    for (std::size_t i = 0; i < records.size();) {
        const TThumbCachePiece& piece = records[i++];
        if (piece.File == nullptr) {
            write(piece.Bytes);
            continue;
        }
        std::int64_t length = piece.Length;
        while (i < records.size() && records[i].File == piece.File &&
               records[i].Offset == piece.Offset + length) {
            length += records[i++].Length;
        }
        piece.File->Copy(piece.Offset, length, write);
    }
    write(directory.Data());
    if (stop.stop_requested()) throw EPixError(SThumbCacheWriteCancelled);
    file.Commit();
}

}  // namespace pix
