// SPDX-License-Identifier: MIT
#include "imaging/mapped_memory.h"

#include "test_support.h"

#include "platform/error.h"
#include "platform/res_strings.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace pix {
namespace {

using test::TTempDir;
using test::WriteFile;

TEST(MappedMemoryTest, ThresholdSeparatesHeapFromMapping) {
    TLwMappedMemory heap(65535);
    EXPECT_FALSE(heap.IsMapping());
    EXPECT_EQ(heap.MappingHandle(), kNoMapping);
    EXPECT_EQ(heap.Size(), 65535);
    heap.Bytes()[65534] = 1;  // the whole block is ours

    TLwMappedMemory mapped(65536);
    EXPECT_TRUE(mapped.IsMapping());
    EXPECT_EQ(mapped.Size(), 65536);
    EXPECT_EQ(mapped.Threshold(), 65536);
    // A new mapping reads as zero; the three views are one address.
    EXPECT_EQ(mapped.Bytes()[0], 0);
    EXPECT_EQ(mapped.Bytes()[65535], 0);
    EXPECT_EQ(static_cast<void*>(mapped.Words()), mapped.Memory());
    EXPECT_EQ(static_cast<void*>(mapped.Bytes()), mapped.Memory());
}

TEST(MappedMemoryTest, ThresholdAndNameAreTheCallers) {
    TLwMappedMemory small(100, "", 64);
    EXPECT_TRUE(small.IsMapping());
    EXPECT_EQ(small.MappingHandle(), kNoMapping);  // anonymous: nothing to close
    TLwMappedMemory named(100, "pixorama-samples", 64);
    EXPECT_TRUE(named.IsMapping());
    EXPECT_NE(named.MappingHandle(), kNoMapping);
    EXPECT_EQ(named.Name(), "pixorama-samples");
    named.Bytes()[99] = 5;
    EXPECT_EQ(named.Bytes()[99], 5);
}

TEST(MappedMemoryTest, EmptyBlockHasAnAddressAndNegativeSizesAreRefused) {
    TLwMappedMemory empty(0);
    EXPECT_NE(empty.Memory(), nullptr);
    EXPECT_EQ(empty.Size(), 0);
    EXPECT_FALSE(empty.IsMapping());
    try {
        TLwMappedMemory negative(-1);
        FAIL() << "negative size accepted";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Id, SErrCreateMapping.Id);
    }
    // A mapping of zero bytes is refused as the system refuses it.
    EXPECT_THROW(TLwMappedMemory(0, "", 0), EOSError);
}

TEST(MappedMemoryTest, CreateFromMappingTakesTheObjectOver) {
    const TMappingHandle handle = CreateMappingObject(10000);
    auto block = TLwMappedMemory::CreateFromMapping(handle, 0);  // 0: the whole object
    EXPECT_EQ(block->Size(), 10000);
    EXPECT_EQ(block->MappingHandle(), handle);
    EXPECT_TRUE(block->IsMapping());
    block->Bytes()[9999] = 42;
    auto second = TLwMappedMemory::CreateFromMapping(CreateMappingObject(16), 8);
    EXPECT_EQ(second->Size(), 8);
}

TEST(MappedMemoryTest, CreateFromMappingRefusesMissingHandlesAndOversizedViews) {
    try {
        TLwMappedMemory::CreateFromMapping(kNoMapping, 16);
        FAIL() << "no handle accepted";
    } catch (const EPixError& e) {
        EXPECT_EQ(e.Id, SErrInvalidMapping.Id);
    }
    const TMappingHandle handle = CreateMappingObject(16);
    try {
        TLwMappedMemory::CreateFromMapping(handle, 32);
        FAIL() << "view beyond the object accepted";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Id, SErrMapView.Id);
    }
    // A failed wrap leaves the handle with the caller.
    EXPECT_EQ(MappingObjectSize(handle), 16u);
    CloseMappingObject(handle);
}

class MappedStreamTest : public ::testing::Test {
protected:
    void SetUp() override { WriteFile(FName, "0123456789"); }
    TTempDir FDir;
    std::string FName = FDir.File("image.tif");
};

TEST_F(MappedStreamTest, ReadStopsAtTheEnd) {
    TLwMappedStream stream(FName, fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(stream.Size(), 10);
    EXPECT_EQ(std::memcmp(stream.Memory() + 4, "456", 3), 0);
    char buffer[16] = {};
    stream.SetPosition(6);
    EXPECT_EQ(stream.Read(buffer, 10), 4);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(stream.Position(), 10);
    EXPECT_EQ(stream.Read(buffer, 10), 0);
    EXPECT_EQ(stream.Position(), 10);
    stream.SetPosition(2);
    EXPECT_EQ(RemainingBytes(stream).size(), 8u);
}

TEST_F(MappedStreamTest, SeekCountsBackFromTheEndAndRefusesOutsidePositions) {
    TLwMappedStream stream(FName, fmOpenRead);
    EXPECT_EQ(stream.Seek(0, soFromEnd), 10);
    EXPECT_EQ(stream.Seek(3, soFromEnd), 7);
    EXPECT_EQ(stream.Seek(-2, soFromCurrent), 5);
    for (const auto& [offset, origin] : {std::pair<std::int64_t, int>{-1, soFromBeginning},
                                         {11, soFromBeginning},
                                         {-1, soFromEnd},
                                         {11, soFromEnd},
                                         {6, soFromCurrent},
                                         {INT64_MIN, soFromEnd},
                                         {0, 7}}) {
        try {
            stream.Seek(offset, origin);
            ADD_FAILURE() << "seek " << offset << " from " << origin << " was accepted";
        } catch (const EStreamError& e) {
            EXPECT_EQ(e.Id, SSeekError.Id);
        }
        EXPECT_EQ(stream.Position(), 5);
    }
}

TEST_F(MappedStreamTest, WriteNeedsWriteAccessAndNeverGrows) {
    {
        TLwMappedStream readOnly(FName, fmOpenRead);
        try {
            readOnly.Write("x", 1);
            FAIL() << "write to a read-only stream accepted";
        } catch (const EStreamError& e) {
            EXPECT_EQ(e.Id, SWriteError.Id);
        }
    }
    {
        TLwMappedStream stream(FName, fmOpenReadWrite);
        stream.SetPosition(8);
        EXPECT_EQ(stream.Write("abcd", 4), 2);
        EXPECT_EQ(stream.Size(), 10);
        EXPECT_EQ(stream.Write("x", 1), 0);
    }
    EXPECT_EQ(test::ReadFile(FName), "01234567ab");
}

TEST_F(MappedStreamTest, OpeningFailuresCarryTheirMessages) {
    const std::string missing = FDir.File("missing.tif");
    try {
        TLwMappedStream stream(missing, fmOpenRead);
        FAIL() << "missing file opened";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Id, SErrCreateFile.Id);
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos);
    }
    WriteFile(FName, "");
    try {
        TLwMappedStream stream(FName, fmOpenRead);
        FAIL() << "empty file opened";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Id, SErrCreateMapping.Id);
    }
}

}  // namespace
}  // namespace pix
