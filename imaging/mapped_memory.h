// SPDX-License-Identifier: MIT
// Memory blocks that keep large buffers off the heap, and the stream over a whole file.
#pragma once

#include "imaging/stream.h"
#include "platform/file_io.h"
#include "platform/memory.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pix {

// A block of memory of a fixed size: from the heap below Threshold bytes, an anonymous
// mapping from Threshold on. A new mapping reads as zero; a heap block is not cleared.
class TLwMappedMemory {
public:
    static constexpr std::int32_t kDefaultThreshold = 65536;

    explicit TLwMappedMemory(std::int64_t size);
    TLwMappedMemory(std::int64_t size, const std::string& name, std::int32_t threshold);
    // Wraps an existing mapping object and takes it over; size 0 maps the whole object.
    // Throws EPixError(SErrInvalidMapping) for kNoMapping, EOSError(SErrMapView) when the
    // view cannot be mapped; the handle then stays with the caller.
    static std::unique_ptr<TLwMappedMemory> CreateFromMapping(TMappingHandle handle,
                                                              std::int64_t size);
    virtual ~TLwMappedMemory();
    TLwMappedMemory(const TLwMappedMemory&) = delete;
    TLwMappedMemory& operator=(const TLwMappedMemory&) = delete;

    void* Memory() const { return FBase; }
    std::uint16_t* Words() const { return static_cast<std::uint16_t*>(FBase); }
    std::uint8_t* Bytes() const { return static_cast<std::uint8_t*>(FBase); }
    std::int64_t Size() const { return FSize; }
    std::int32_t Threshold() const { return FThreshold; }
    const std::string& Name() const { return FName; }
    // True when the block is a mapping (anonymous or a wrapped mapping object).
    bool IsMapping() const { return FMapped; }
    TMappingHandle MappingHandle() const { return FMappingHandle; }

protected:
    struct TFromMapping {};
    TLwMappedMemory(TFromMapping, TMappingHandle handle, std::int64_t size);

private:
    void Allocate(std::int64_t size);
    void Release() noexcept;

    void* FBase = nullptr;
    std::int64_t FSize = 0;
    std::int32_t FThreshold = kDefaultThreshold;
    std::string FName;
    bool FMapped = false;
    TMappingHandle FMappingHandle = kNoMapping;
};

// A stream over a whole file held in memory (see TFileView). Data at file offset N is at
// Memory() + N. Size is the file's size at opening; the stream never grows.
class TLwMappedStream : public TStream {
public:
    // `mode` is the file-open mode word (fmOpenRead | fmShareDenyWrite for pictures).
    // A stop requested through `stop` ends the reading of the file (see TFileView::Open).
    TLwMappedStream(const std::string& fileName, std::uint32_t mode, std::stop_token stop = {});
    std::int64_t Read(void* buffer, std::int64_t count) override;
    // Copies into the view (and back to the file when the stream is destroyed); raises
    // EStreamError(SWriteError) on a stream opened for reading only.
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    // Origin 0: from the start; 1: from the position; 2: counted back from the end, so
    // Seek(0, 2) gives Size(). Raises EStreamError(SSeekError) outside 0..Size().
    std::int64_t Seek(std::int64_t offset, int origin) override;
    std::int64_t Size() override { return FSize; }

    const std::uint8_t* Memory() const { return FView->Data(); }
    std::span<const std::uint8_t> Bytes() const { return FView->Bytes(); }

private:
    std::unique_ptr<TFileView> FView;
    std::int64_t FSize = 0;
    std::int64_t FPosition = 0;
};

}  // namespace pix
