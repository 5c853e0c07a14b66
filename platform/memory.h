// SPDX-License-Identifier: MIT
// Large anonymous memory blocks that do not fragment the heap.
#pragma once

#include <cstddef>

namespace pix {

// Maps `size` bytes of zero-initialised, private, read-write anonymous memory.
// Throws EOSError(SErrCreateMapping) with errno when the system refuses; a size of 0 is refused
// with EINVAL.
void* MapAnonymousMemory(std::size_t size);

// Makes the pages of [base, base + size) inside such a block at once, ahead of writing them
// all: one call instead of a fault per page. Pages are made by the first writes anyway, so
// a user that may stop part-way (a file read in chunks) populates only what it will write
// next; the first population of a large block can take a quarter of a second.
void PopulateMemory(void* base, std::size_t size) noexcept;

// Returns a block obtained from MapAnonymousMemory; null is ignored.
void UnmapAnonymousMemory(void* base, std::size_t size) noexcept;

// A mapping object that several views may share (an anonymous in-memory file here).
using TMappingHandle = int;
inline constexpr TMappingHandle kNoMapping = -1;

// Throws EOSError(SErrCreateMapping, errno). The name only labels the object.
TMappingHandle CreateMappingObject(std::size_t size, const char* name = nullptr);
// Maps `size` bytes of the object read-write and shared; null with errno set on failure.
// A size of 0 maps the whole object; a size beyond the object fails with EINVAL.
void* MapMappingView(TMappingHandle handle, std::size_t size);
// Size of the object in bytes, 0 when unknown.
std::size_t MappingObjectSize(TMappingHandle handle);
void UnmapMappingView(void* base, std::size_t size) noexcept;
void CloseMappingObject(TMappingHandle handle) noexcept;

}  // namespace pix
