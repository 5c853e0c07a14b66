// SPDX-License-Identifier: MIT
// Streams: the abstract stream the pictures load from and save to, and two in-memory ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pix {

enum : int { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream {
public:
    virtual ~TStream() = default;
    // Copy up to `count` bytes and return how many were copied (0 at the end).
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    // Returns the new position; throws EStreamError(SSeekError) for a position outside
    // what the stream allows.
    virtual std::int64_t Seek(std::int64_t offset, int origin) = 0;
    virtual std::int64_t Size();

    std::int64_t Position() { return Seek(0, soFromCurrent); }
    void SetPosition(std::int64_t position) { Seek(position, soFromBeginning); }
    // Read or write exactly `count` bytes, or throw EStreamError (SReadError, SWriteError).
    void ReadBuffer(void* buffer, std::int64_t count);
    void WriteBuffer(const void* buffer, std::int64_t count);
};

// A growable stream in memory. Seek from the end adds the offset to the size.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::span<const std::uint8_t> data) : FData(data.begin(), data.end()) {}
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, int origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }

    const std::vector<std::uint8_t>& Data() const { return FData; }
    std::vector<std::uint8_t>& Data() { return FData; }

private:
    std::vector<std::uint8_t> FData;
    std::int64_t FPosition = 0;
};

// A read-only stream over bytes it does not own. Seek from the end adds the offset to the
// size.
class TSpanStream : public TStream {
public:
    explicit TSpanStream(std::span<const std::uint8_t> data) : FData(data) {}
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;  // always 0
    std::int64_t Seek(std::int64_t offset, int origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }
    std::span<const std::uint8_t> Data() const { return FData; }

private:
    std::span<const std::uint8_t> FData;
    std::int64_t FPosition = 0;
};

// The whole content of a stream from its current position, when the stream holds its
// bytes in memory (TLwMappedStream, TMemoryStream, TSpanStream): lets decoders address
// the data without copying. Empty for other streams.
std::span<const std::uint8_t> RemainingBytes(TStream& stream);

}  // namespace pix
