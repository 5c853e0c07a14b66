// SPDX-License-Identifier: MIT
#include "thumbs/image_signature.h"

#include "platform/byte_order.h"

#include <algorithm>
#include <array>

namespace pix {
namespace {

bool StartsWith(std::span<const std::uint8_t> head, std::span<const std::uint8_t> magic) {
    return head.size() >= magic.size() && std::equal(magic.begin(), magic.end(), head.begin());
}

// A TIFF header: the byte order ("II" or "MM"), 42 in that order, and the offset of the
// first directory, which lies inside the file.
bool IsTiffHeader(std::span<const std::uint8_t> head, std::int64_t size) {
    if (head.size() < 8) return false;
    const bool little = head[0] == 'I' && head[1] == 'I';
    const bool big = head[0] == 'M' && head[1] == 'M';
    if (!little && !big) return false;
    const std::uint16_t version = little ? LoadLE16(&head[2]) : LoadBE16(&head[2]);
    const std::uint32_t first = little ? LoadLE32(&head[4]) : LoadBE32(&head[4]);
    return version == 42 && first != 0 && static_cast<std::int64_t>(first) < size;
}

}  // namespace

bool HasImageSignature(TImageFormat format, std::span<const std::uint8_t> head,
                       std::int64_t size) {
    static constexpr std::array<std::uint8_t, 2> kBmp = {'B', 'M'};
    static constexpr std::array<std::uint8_t, 2> kJpeg = {0xFF, 0xD8};  // start of image
    static constexpr std::array<std::uint8_t, 8> kPng = {137, 80, 78, 71, 13, 10, 26, 10};
    static constexpr std::array<std::uint8_t, 2> kVexaPsd = {0xA5, 0x5A};  // 0x5AA5 stored LE
    switch (format) {
        case ifBmp:
            return StartsWith(head, kBmp);
        case ifJpeg:
            return StartsWith(head, kJpeg);
        case ifPng:
            return StartsWith(head, kPng);
        case ifTiff:
            return IsTiffHeader(head, size);
        case ifVexaPsd:
            return StartsWith(head, kVexaPsd);
    }
    return true;
}

}  // namespace pix
