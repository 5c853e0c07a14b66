// SPDX-License-Identifier: MIT
// The TIFF reader: file header, image file directories, the bitmap header they describe,
// and the strips (uncompressed or LZW) decoded into a picture's pixels or 16-bit samples.
#pragma once

#include "imaging/dib_picture.h"
#include "imaging/field_list.h"
#include "imaging/stream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace pix {

// Tags the reader and the acquisition system's files use.
enum : std::uint16_t {
    tagNewSubfileType = 254,
    tagImageWidth = 256,
    tagImageLength = 257,
    tagBitsPerSample = 258,
    tagCompression = 259,
    tagPhotometric = 262,
    tagFillOrder = 266,
    tagImageDescription = 270,
    tagMake = 271,
    tagModel = 272,
    tagStripOffsets = 273,
    tagOrientation = 274,
    tagSamplesPerPixel = 277,
    tagRowsPerStrip = 278,
    tagStripByteCounts = 279,
    tagXResolution = 282,
    tagYResolution = 283,
    tagPlanarConfiguration = 284,
    tagXPosition = 286,
    tagYPosition = 287,
    tagResolutionUnit = 296,
    tagPageNumber = 297,
    tagSoftware = 305,
    tagDateTime = 306,
    tagArtist = 315,
    tagPredictor = 317,
    tagColorMap = 320,
    tagTileWidth = 322,
    tagTileLength = 323,
    tagExtraSamples = 338,
    tagSampleFormat = 339,
    tagCopyright = 33432,
    tagVexaLayout = 65520,
    tagVexaHeader = 65521,
};

// Checks the 8-byte header, sets `bigEndian` and positions the stream at the first IFD.
void ReadTiffHeader(TStream& stream, bool& bigEndian);

// Reads the IFD at the stream's position into `fields` (cleared by the caller), keeping
// entries of type BYTE, ASCII or SBYTE and entries of known tags, sorted by tag. Returns the
// offset of the next IFD, 0 when there is none.
std::int64_t ReadDirectory(TStream& stream, TFieldList& fields, bool bigEndian);

// Makes the bitmap header and colour table the fields describe, after every check of the
// supported subset; returns the Compression value (1 or 5).
std::uint32_t BuildTiffImageInfo(const TFieldList& fields, std::unique_ptr<TDibInfo>& info);

// Refuses, before any pixel memory is made, an image whose strips lie outside the file
// (SStripOutsideFile) or could not fill half its rows even at the compression's largest
// expansion (SStripDataMissing). `samples16` as for ReadStrips.
void CheckStripData(TStream& stream, const TDibInfo& info, const TFieldList& fields, bool samples16,
                    std::uint32_t compression);

// Decodes the strips: into `samples16` (width × height 16-bit samples, top row first) when
// it is given, else into the picture's section (`bits`, described by `info`). Progress is
// reported through `picture.Progress`; an abort request ends the loop without an error.
void ReadStrips(TStream& stream, const TDibInfo& info, const TFieldList& fields,
                TDibPicture& picture, std::uint16_t* samples16, std::uint8_t* bits,
                std::uint32_t compression, bool bigEndian);

// Decodes one LZW strip (most-significant-bit-first codes, early change). Writes at most
// out.size() bytes and sets `produced` to the number written. False for an invalid code
// (including old-style strips, which start with the bytes 0x00 0x01).
bool DecodeLzwStrip(std::span<const std::uint8_t> in, std::span<std::uint8_t> out,
                    std::size_t& produced);

// Number of IFDs in the main chain; only the header's errors are raised. The walk stops at
// an offset outside the file, at an IFD that was visited before, and at any read error.
int CountTiffImages(TStream& stream);

}  // namespace pix
