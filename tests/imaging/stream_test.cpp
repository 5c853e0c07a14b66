// SPDX-License-Identifier: MIT
#include "imaging/stream.h"

#include "platform/error.h"
#include "platform/res_strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace pix {
namespace {

std::span<const std::uint8_t> AsBytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A stream that keeps its bytes elsewhere: RemainingBytes cannot see into it.
class TOpaqueStream : public TStream {
public:
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, int origin) override {
        FPosition = origin == soFromEnd       ? 10 + offset
                    : origin == soFromCurrent ? FPosition + offset
                                              : offset;
        return FPosition;
    }

private:
    std::int64_t FPosition = 0;
};

TEST(StreamTest, SizeGoesThroughSeekAndRestoresThePosition) {
    TOpaqueStream stream;
    stream.SetPosition(3);
    EXPECT_EQ(stream.Size(), 10);
    EXPECT_EQ(stream.Position(), 3);
}

TEST(SpanStreamTest, ReadsUpToTheEndOnly) {
    const std::string text = "0123456789";
    TSpanStream stream(AsBytes(text));
    char buffer[16] = {};
    stream.SetPosition(7);
    EXPECT_EQ(stream.Read(buffer, 8), 3);  // straddles the end
    EXPECT_EQ(std::string(buffer, 3), "789");
    EXPECT_EQ(stream.Position(), 10);
    EXPECT_EQ(stream.Read(buffer, 8), 0);  // at the end
    EXPECT_EQ(stream.Position(), 10);
    EXPECT_EQ(stream.Write("x", 1), 0);
}

TEST(SpanStreamTest, SeekOutsideTheBytesFailsAndKeepsThePosition) {
    const std::string text = "0123456789";
    TSpanStream stream(AsBytes(text));
    stream.SetPosition(4);
    EXPECT_EQ(stream.Seek(-2, soFromEnd), 8);  // from the end adds to the size
    for (const auto& [offset, origin] : {std::pair<std::int64_t, int>{-1, soFromBeginning},
                                         {11, soFromBeginning},
                                         {3, soFromCurrent},
                                         {1, soFromEnd},
                                         {INT64_MAX, soFromCurrent},
                                         {0, 3}}) {
        try {
            stream.Seek(offset, origin);
            ADD_FAILURE() << "seek " << offset << " from " << origin << " was accepted";
        } catch (const EStreamError& e) {
            EXPECT_EQ(e.Id, SSeekError.Id);
        }
        EXPECT_EQ(stream.Position(), 8);
    }
}

TEST(MemoryStreamTest, GrowsOnWriteAndFillsGapsWithZeros) {
    TMemoryStream stream;
    stream.WriteBuffer("abc", 3);
    stream.Seek(2, soFromEnd);  // two past the end
    stream.WriteBuffer("z", 1);
    EXPECT_EQ(stream.Size(), 6);
    EXPECT_EQ(std::string(stream.Data().begin(), stream.Data().end()), std::string("abc\0\0z", 6));
    stream.SetPosition(1);
    stream.WriteBuffer("B", 1);  // overwrite in place
    EXPECT_EQ(stream.Size(), 6);
    EXPECT_EQ(stream.Data()[1], 'B');
    EXPECT_THROW(stream.Seek(-7, soFromEnd), EStreamError);
}

TEST(MemoryStreamTest, ReadBufferThrowsWhenShortAndWriteBufferWhenRefused) {
    const std::string text = "abcd";
    TMemoryStream stream(AsBytes(text));
    char buffer[8];
    stream.ReadBuffer(buffer, 0);
    stream.ReadBuffer(buffer, 3);
    try {
        stream.ReadBuffer(buffer, 2);
        FAIL() << "short read accepted";
    } catch (const EStreamError& e) {
        EXPECT_EQ(e.Id, SReadError.Id);
    }
    EXPECT_THROW(stream.ReadBuffer(buffer, -1), EStreamError);
    TSpanStream readOnly(AsBytes(text));
    try {
        readOnly.WriteBuffer("x", 1);
        FAIL() << "write to a read-only stream accepted";
    } catch (const EStreamError& e) {
        EXPECT_EQ(e.Id, SWriteError.Id);
    }
}

TEST(RemainingBytesTest, SeesIntoMemoryStreamsFromThePosition) {
    const std::string text = "0123456789";
    TSpanStream span(AsBytes(text));
    span.SetPosition(6);
    const auto rest = RemainingBytes(span);
    EXPECT_EQ(std::string(rest.begin(), rest.end()), "6789");
    span.SetPosition(10);
    EXPECT_TRUE(RemainingBytes(span).empty());

    TMemoryStream memory(AsBytes(text));
    memory.SetPosition(8);
    EXPECT_EQ(RemainingBytes(memory).size(), 2u);
    memory.SetPosition(20);  // past the end
    EXPECT_TRUE(RemainingBytes(memory).empty());

    TOpaqueStream opaque;
    EXPECT_TRUE(RemainingBytes(opaque).empty());
}

}  // namespace
}  // namespace pix
