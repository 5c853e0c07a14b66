// SPDX-License-Identifier: MIT
#include "imaging/mapped_memory.h"

#include "platform/error.h"
#include "platform/res_strings.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace pix {

TLwMappedMemory::TLwMappedMemory(std::int64_t size) { Allocate(size); }

TLwMappedMemory::TLwMappedMemory(std::int64_t size, const std::string& name, std::int32_t threshold)
    : FThreshold(threshold), FName(name) {
    Allocate(size);
}

TLwMappedMemory::TLwMappedMemory(TFromMapping, TMappingHandle handle, std::int64_t size) {
    if (handle == kNoMapping) throw EPixError(SErrInvalidMapping);
    if (size < 0) throw EOSError(SErrMapView, EINVAL, EINVAL);
    if (static_cast<std::uint64_t>(size) > SIZE_MAX) throw EOSError(SErrMapView, ENOMEM, ENOMEM);
    // Size 0 stands for the whole object, as the view's region size does on Windows.
    const std::size_t length =
        size == 0 ? MappingObjectSize(handle) : static_cast<std::size_t>(size);
    void* base = MapMappingView(handle, length);
    if (base == nullptr) {
        // The handle stays with the caller: ownership passes only with a mapped view.
        const int code = errno;
        throw EOSError(SErrMapView, code, code);
    }
    FBase = base;
    FSize = static_cast<std::int64_t>(length);
    FMapped = true;
    FMappingHandle = handle;
}

std::unique_ptr<TLwMappedMemory> TLwMappedMemory::CreateFromMapping(TMappingHandle handle,
                                                                    std::int64_t size) {
    // The constructor is protected; a local subclass lets make_unique reach it.
    struct TFromMappingBlock : TLwMappedMemory {
        TFromMappingBlock(TMappingHandle h, std::int64_t s)
            : TLwMappedMemory(TFromMapping{}, h, s) {}
    };
    return std::make_unique<TFromMappingBlock>(handle, size);
}

TLwMappedMemory::~TLwMappedMemory() { Release(); }

void TLwMappedMemory::Allocate(std::int64_t size) {
    if (size < 0) throw EOSError(SErrCreateMapping, EINVAL, EINVAL);
    if (static_cast<std::uint64_t>(size) > SIZE_MAX) throw EPixError(SNotEnoughMemory);
    const auto length = static_cast<std::size_t>(size);
    if (size < FThreshold) {
        // Small blocks are cheap on the heap; one byte at least, so that even an empty
        // block has an address that memcpy and friends accept.
        FBase = std::malloc(std::max<std::size_t>(length, 1));
        if (FBase == nullptr) throw EPixError(SNotEnoughMemory);
        FSize = size;
        return;
    }
    if (FName.empty()) {
        FBase = MapAnonymousMemory(length);
    } else {
        // A named block is a mapping object that another view could share.
        const TMappingHandle handle = CreateMappingObject(length, FName.c_str());
        void* base = MapMappingView(handle, length);
        if (base == nullptr) {
            const int code = errno;
            CloseMappingObject(handle);
            FSize = 0;
            throw EOSError(SErrMapView, code, code);
        }
        FBase = base;
        FMappingHandle = handle;
    }
    FMapped = true;
    FSize = size;
}

void TLwMappedMemory::Release() noexcept {
    if (FBase == nullptr) return;
    const auto length = static_cast<std::size_t>(FSize);
    if (!FMapped) {
        std::free(FBase);
    } else if (FMappingHandle != kNoMapping) {
        UnmapMappingView(FBase, length);
        CloseMappingObject(FMappingHandle);
        FMappingHandle = kNoMapping;
    } else {
        UnmapAnonymousMemory(FBase, length);
    }
    FBase = nullptr;
    FMapped = false;
}

TLwMappedStream::TLwMappedStream(const std::string& fileName, std::uint32_t mode,
                                 std::stop_token stop)
    : FView(TFileView::Open(fileName, mode, std::move(stop))), FSize(FView->Size()) {}

std::int64_t TLwMappedStream::Read(void* buffer, std::int64_t count) {
    if (count <= 0 || FPosition >= FSize) return 0;
    const std::int64_t n = std::min(count, FSize - FPosition);
    std::memcpy(buffer, FView->Data() + FPosition, static_cast<std::size_t>(n));
    FPosition += n;
    return n;
}

std::int64_t TLwMappedStream::Write(const void* buffer, std::int64_t count) {
    if (!FView->Writable()) throw EStreamError(SWriteError);
    if (count <= 0 || FPosition >= FSize) return 0;
    const std::int64_t n = std::min(count, FSize - FPosition);
    std::memcpy(FView->Data() + FPosition, buffer, static_cast<std::size_t>(n));
    FView->MarkWritten(FPosition, n);
    FPosition += n;
    return n;
}

std::int64_t TLwMappedStream::Seek(std::int64_t offset, int origin) {
    std::int64_t target;
    bool overflow = false;
    switch (origin) {
        case soFromBeginning:
            target = offset;
            break;
        case soFromCurrent:
            overflow = __builtin_add_overflow(FPosition, offset, &target);
            break;
        case soFromEnd:
            // Counted back from the end: offset 0 is the end itself.
            overflow = __builtin_sub_overflow(FSize, offset, &target);
            break;
        default:
            throw EStreamError(SSeekError);
    }
    if (overflow || target < 0 || target > FSize) throw EStreamError(SSeekError);
    FPosition = target;
    return FPosition;
}

}  // namespace pix
