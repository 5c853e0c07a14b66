// SPDX-License-Identifier: MIT
#include "tiff/tif_picture.h"

#include "platform/error.h"
#include "platform/res_strings.h"
#include "tiff/tiff_reader.h"
#include "tiff/tiff_writer.h"

#include <cstring>

namespace pix {

namespace {

// Output range of the 16-bit display window: the grey entries of the 236-level table.
constexpr std::uint8_t kWindowLow = 10;
constexpr std::uint8_t kWindowHigh = 245;

// Bits per sample of a one-sample image, read by the entry's stored type as the reader
// does; 0 for images with several samples or without the tag.
std::uint32_t SingleSampleBits(const TFieldList& fields) {
    TFieldEntry bits;
    if (fields.GetField(tagBitsPerSample, bits) < 0 || bits.Count != 1) return 0;
    const std::uint8_t* p = bits.ValueBytes();
    switch (FieldTypeSize(bits.FieldType)) {
        case 1:
            return p[0];
        case 2: {
            std::uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        case 4: {
            std::uint32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
        default:
            return 0;
    }
}

}  // namespace

void TTifPicture::ReadFileHeader(TStream& stream) {
    bool bigEndian = false;
    ReadTiffHeader(stream, bigEndian);
    FByteOrder = bigEndian ? 1 : 0;
    FVisitedIfds.clear();
}

std::int64_t TTifPicture::ReadHeader(TStream& stream, std::unique_ptr<TDibInfo>& info) {
    FVisitedIfds.insert(stream.Position());
    std::int64_t next = ReadDirectory(stream, FFields, FByteOrder == 1);
    FCompression = BuildTiffImageInfo(FFields, info);
    FPaletteKind = PaletteKindOfInfo(info->Get());

    // One sample of 16 bits: the samples go into their own store and the bitmap shows them
    // through the display window. FInfo is `info` here, which is all the store needs.
    const bool samples16 = SingleSampleBits(FFields) == 16;
    CheckStripData(stream, *info, FFields, samples16, FCompression);
    if (samples16) CreateImgData16();
    if (next != 0 && FVisitedIfds.count(next) != 0) next = 0;
    return next;
}

void TTifPicture::ReadBits(TStream& stream) {
    const bool bigEndian = FByteOrder == 1;
    if (!FImgData16) {
        ReadStrips(stream, *FInfo, FFields, *this, nullptr, FBits, FCompression, bigEndian);
        return;
    }
    ReadStrips(stream, *FInfo, FFields, *this, FImgData16->Words(), FBits, FCompression, bigEndian);
    // The window and the 8-bit mapping pass over every sample once more.
    if (LoadCancelled()) return;
    bool handled = false;
    if (OnRange) OnRange(*this, FImgData16->Min, FImgData16->Max, handled);
    if (!handled) FImgData16->ComputeMinMax();
    FImgData16->BuildTable(FImgData16->Min, FImgData16->Max, kWindowLow, kWindowHigh);
    Map16To8();
}

void TTifPicture::WriteFileHeader(TStream& stream) { WriteTiffHeader(stream); }

void TTifPicture::WriteData(TStream& stream, bool option) {
    if (!FInfo || !FBits) throw EPixError(SInvalidImageSize, 0, 0);
    if (FImgData16 && FImgData16->Keep16)
        WriteTiffImage(stream, FImgData16->Memory(), *FInfo, option, FFields, 16);
    else
        WriteTiffImage(stream, FBits, *FInfo, option, FFields, BitCount());
}

}  // namespace pix
