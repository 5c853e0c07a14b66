// SPDX-License-Identifier: MIT
#include "platform/memory.h"

#include "platform/error.h"
#include "platform/res_strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace pix {
namespace {

TEST(AnonymousMemoryTest, BlocksReadAsZeroAndAreWritable) {
    const std::size_t size = 3 * 65536 + 17;
    auto* bytes = static_cast<std::uint8_t*>(MapAnonymousMemory(size));
    ASSERT_NE(bytes, nullptr);
    EXPECT_TRUE(std::all_of(bytes, bytes + size, [](std::uint8_t b) { return b == 0; }));
    bytes[0] = 1;
    bytes[size - 1] = 2;
    EXPECT_EQ(bytes[size - 1], 2);
    UnmapAnonymousMemory(bytes, size);
    UnmapAnonymousMemory(nullptr, size);  // ignored
}

TEST(AnonymousMemoryTest, EmptyAndImpossibleSizesAreRefusedWithTheMappingMessage) {
    try {
        MapAnonymousMemory(0);
        FAIL() << "size 0 was accepted";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Code, EINVAL);
        EXPECT_EQ(e.Id, SErrCreateMapping.Id);
    }
    EXPECT_THROW(MapAnonymousMemory(SIZE_MAX - 4095), EOSError);
}

TEST(MappingObjectTest, TwoViewsShareTheSameBytes) {
    const TMappingHandle handle = CreateMappingObject(8192, "pixorama-test");
    ASSERT_NE(handle, kNoMapping);
    EXPECT_EQ(MappingObjectSize(handle), 8192u);
    auto* first = static_cast<std::uint8_t*>(MapMappingView(handle, 8192));
    // Size 0 maps the whole object.
    auto* second = static_cast<std::uint8_t*>(MapMappingView(handle, 0));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    std::memcpy(first + 8000, "shared", 6);
    EXPECT_EQ(std::memcmp(second + 8000, "shared", 6), 0);
    UnmapMappingView(first, 8192);
    UnmapMappingView(second, 8192);
    CloseMappingObject(handle);
}

TEST(MappingObjectTest, ViewsBeyondTheObjectOrWithoutOneFail) {
    const TMappingHandle handle = CreateMappingObject(4096);
    // A longer view would fault on its tail; it must be refused instead.
    errno = 0;
    EXPECT_EQ(MapMappingView(handle, 4096 * 2), nullptr);
    EXPECT_EQ(errno, EINVAL);
    CloseMappingObject(handle);
    EXPECT_EQ(MapMappingView(kNoMapping, 16), nullptr);
    EXPECT_EQ(MappingObjectSize(kNoMapping), 0u);
    CloseMappingObject(kNoMapping);  // ignored
}

}  // namespace
}  // namespace pix
