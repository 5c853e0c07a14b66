// SPDX-License-Identifier: MIT
#include "platform/memory.h"

#include "platform/error.h"
#include "platform/res_strings.h"

#include <cerrno>
#include <cstdint>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pix {

namespace {

[[noreturn]] void ThrowMappingError(int code) { throw EOSError(SErrCreateMapping, code, code); }

constexpr std::size_t kHugePageWorthwhile = std::size_t{4} << 20;

}  // namespace

void* MapAnonymousMemory(std::size_t size) {
    if (size == 0) ThrowMappingError(EINVAL);
    // Private anonymous pages read as zero and come straight from the kernel, so large
    // sample buffers never fragment the heap.
    void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) ThrowMappingError(errno);
#ifdef MADV_HUGEPAGE
    // Pixel and sample buffers are written whole right after they are made; with 2 MiB
    // pages that costs one fault per 512 small ones, which dominate a large decode.
    if (size >= kHugePageWorthwhile) madvise(base, size, MADV_HUGEPAGE);
#endif
    return base;
}

void PopulateMemory(void* base, std::size_t size) noexcept {
#ifdef MADV_POPULATE_WRITE
    // Older kernels refuse the advice; the pages then come with the first writes.
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(base) & ~(page - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(base) + size;
    if (size != 0) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    (void)base;
    (void)size;
#endif
}

void UnmapAnonymousMemory(void* base, std::size_t size) noexcept {
    if (base != nullptr && size != 0) munmap(base, size);
}

TMappingHandle CreateMappingObject(std::size_t size, const char* name) {
    // An in-memory file stands in for a paging-file mapping object: it has a size, can be
    // mapped several times, and lives until its last descriptor and view are gone.
    const int fd = memfd_create(name != nullptr && *name != '\0' ? name : "pixorama", MFD_CLOEXEC);
    if (fd < 0) ThrowMappingError(errno);
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        const int code = errno;
        close(fd);
        ThrowMappingError(code);
    }
    return fd;
}

std::size_t MappingObjectSize(TMappingHandle handle) {
    struct stat st {};
    if (handle < 0 || fstat(handle, &st) != 0 || st.st_size < 0) return 0;
    return static_cast<std::size_t>(st.st_size);
}

void* MapMappingView(TMappingHandle handle, std::size_t size) {
    if (handle < 0) {
        errno = EBADF;
        return nullptr;
    }
    // A view longer than the object would fault (SIGBUS) on its last pages; refuse it as
    // the Windows call refuses a view beyond its mapping object.
    const std::size_t objectSize = MappingObjectSize(handle);
    if (size == 0) size = objectSize;
    if (size == 0 || size > objectSize) {
        errno = EINVAL;
        return nullptr;
    }
    void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, handle, 0);
    return base == MAP_FAILED ? nullptr : base;
}

void UnmapMappingView(void* base, std::size_t size) noexcept {
    if (base != nullptr && size != 0) munmap(base, size);
}

void CloseMappingObject(TMappingHandle handle) noexcept {
    if (handle >= 0) close(handle);
}

}  // namespace pix
