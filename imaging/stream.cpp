// SPDX-License-Identifier: MIT
#include "imaging/stream.h"

#include "imaging/mapped_memory.h"
#include "platform/error.h"
#include "platform/res_strings.h"

#include <algorithm>
#include <cstring>

namespace pix {

namespace {

// The position a seek asks for, or throws SSeekError for an unknown origin or a sum that
// does not fit 64 bits. `endBase` is what origin 2 counts from.
std::int64_t SeekTarget(std::int64_t position, std::int64_t endBase, std::int64_t offset,
                        int origin) {
    std::int64_t base;
    switch (origin) {
        case soFromBeginning:
            return offset;
        case soFromCurrent:
            base = position;
            break;
        case soFromEnd:
            base = endBase;
            break;
        default:
            throw EStreamError(SSeekError);
    }
    std::int64_t target;
    if (__builtin_add_overflow(base, offset, &target)) throw EStreamError(SSeekError);
    return target;
}

// Copies what is left of `data` from `position`, at most `count` bytes.
std::int64_t CopyOut(std::span<const std::uint8_t> data, std::int64_t& position, void* buffer,
                     std::int64_t count) {
    const auto size = static_cast<std::int64_t>(data.size());
    if (count <= 0 || position < 0 || position >= size) return 0;
    const std::int64_t n = std::min(count, size - position);
    std::memcpy(buffer, data.data() + position, static_cast<std::size_t>(n));
    position += n;
    return n;
}

}  // namespace

std::int64_t TStream::Size() {
    const std::int64_t position = Seek(0, soFromCurrent);
    const std::int64_t size = Seek(0, soFromEnd);
    Seek(position, soFromBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
    if (count == 0) return;
    if (count < 0 || Read(buffer, count) != count) throw EStreamError(SReadError);
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
    if (count == 0) return;
    if (count < 0 || Write(buffer, count) != count) throw EStreamError(SWriteError);
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
    return CopyOut(FData, FPosition, buffer, count);
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0) return 0;
    std::int64_t end;
    if (__builtin_add_overflow(FPosition, count, &end)) throw EStreamError(SWriteError);
    // A position past the end (allowed by Seek) leaves a gap that reads as zeros.
    if (static_cast<std::uint64_t>(end) > FData.size()) FData.resize(static_cast<std::size_t>(end));
    std::memcpy(FData.data() + FPosition, buffer, static_cast<std::size_t>(count));
    FPosition = end;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, int origin) {
    const std::int64_t target = SeekTarget(FPosition, Size(), offset, origin);
    if (target < 0) throw EStreamError(SSeekError);
    FPosition = target;
    return FPosition;
}

std::int64_t TSpanStream::Read(void* buffer, std::int64_t count) {
    return CopyOut(FData, FPosition, buffer, count);
}

std::int64_t TSpanStream::Write(const void*, std::int64_t) { return 0; }

std::int64_t TSpanStream::Seek(std::int64_t offset, int origin) {
    const std::int64_t target = SeekTarget(FPosition, Size(), offset, origin);
    if (target < 0 || target > Size()) throw EStreamError(SSeekError);
    FPosition = target;
    return FPosition;
}

std::span<const std::uint8_t> RemainingBytes(TStream& stream) {
    std::span<const std::uint8_t> all;
    if (auto* mapped = dynamic_cast<TLwMappedStream*>(&stream)) {
        all = mapped->Bytes();
    } else if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
        all = memory->Data();
    } else if (auto* span = dynamic_cast<TSpanStream*>(&stream)) {
        all = span->Data();
    } else {
        return {};
    }
    const std::int64_t position = stream.Position();
    if (position < 0 || static_cast<std::uint64_t>(position) >= all.size()) return {};
    return all.subspan(static_cast<std::size_t>(position));
}

}  // namespace pix
