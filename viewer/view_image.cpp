// SPDX-License-Identifier: MIT
#include "viewer/view_image.h"

#include "formats/format_table.h"

#include "imaging/mapped_memory.h"
#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/res_strings.h"
#include "tiff/tiff_reader.h"

#include <new>
#include <unordered_set>

namespace pix {
namespace {

// Positions `stream` at the directory of image `index`, walking the chain from the first
// directory; the picture's ReadFileHeader has already read the file header.
void SeekTiffImage(TStream& stream, int index) {
    stream.SetPosition(0);
    bool bigEndian = false;
    ReadTiffHeader(stream, bigEndian);
    std::unordered_set<std::int64_t> visited;
    for (int i = 0; i < index; ++i) {
        visited.insert(stream.Position());
        TFieldList fields;
        const std::int64_t next = ReadDirectory(stream, fields, bigEndian);
        if (next <= 0 || next >= stream.Size() || visited.count(next) != 0)
            throw EPixError(SViewerImageNotInFile, index + 1);
        stream.SetPosition(next);
    }
}

void Load(TViewImage& image, std::stop_token stop) {
    const TImageFormatInfo& format = ImageFormatForFile(image.Path);
    std::unique_ptr<TDibPicture> picture = format.Create();
    picture->SetStopToken(stop);
    if (format.TiffEntry) {
        TLwMappedStream stream(image.Path, fmOpenRead | fmShareDenyWrite, stop);
        image.Count = CountTiffImages(stream);
        if (image.Index >= image.Count) throw EPixError(SViewerImageNotInFile, image.Index + 1);
        stream.SetPosition(0);
        picture->ReadFileHeader(stream);
        if (image.Index > 0) SeekTiffImage(stream, image.Index);
        picture->LoadFromStream(stream);
    } else {
        if (image.Index > 0) throw EPixError(SViewerImageNotInFile, image.Index + 1);
        picture->LoadFromFile(image.Path);
    }
    if (const TImgData16* samples = picture->ImgData16()) {
        image.DataMin = samples->Min;
        image.DataMax = samples->Max;
    }
    image.Picture = std::move(picture);
}

}  // namespace

TViewImage LoadViewImage(const std::string& path, int index, std::stop_token stop) {
    TViewImage image;
    image.Path = path;
    image.Index = index < 0 ? 0 : index;
    image.FileDate = FileAge(path);
    const auto fail = [&image](const TResString& message) {
        image.Error = LoadResString(message);
        image.ErrorId = message.Id;
    };
    if (DirectoryExists(path)) {
        fail(SViewerNoImageFile);
        return image;
    }
    try {
        Load(image, std::move(stop));
    } catch (const std::bad_alloc&) {
        fail(SNotEnoughMemory);
    } catch (const EPixError& e) {
        image.Error = e.what();
        image.ErrorId = e.Id;
    } catch (const std::exception& e) {
        image.Error = e.what();
    } catch (...) {
        fail(SViewerUnknownError);
    }
    if (!image.Error.empty()) {
        image.Picture.reset();
        // The system's "cannot open" says less than this.
        if (!FileExists(path)) fail(SViewerFileMissing);
    }
    return image;
}

}  // namespace pix
