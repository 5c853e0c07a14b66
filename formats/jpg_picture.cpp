// SPDX-License-Identifier: MIT
// libjpeg reports fatal errors through error_exit, which must not return. Ours longjmps
// back into the one function per direction that calls libjpeg (DecodeJpeg, EncodeJpeg);
// those hold only trivially destructible locals, and the C++ side raises the exception
// after they return, so no exception ever crosses libjpeg's frames.
//
// No EXIF orientation is applied: pixels come out in stored order, as djpeg gives them.
#include "formats/jpg_picture.h"

#include "platform/error.h"
#include "platform/res_strings.h"

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stop_token>
#include <vector>

namespace pix {
namespace {

struct TJpegError {
    jpeg_error_mgr Manager;  // first, so libjpeg's pointer converts back to this record
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
    auto* error = reinterpret_cast<TJpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, error->Message);
    std::longjmp(error->Jump, 1);
}

// Warnings (corrupt or truncated data) are not printed; decoding goes on and the picture
// keeps what was decoded.
extern "C" void JpegOutputMessage(j_common_ptr) {}

void InitErrorManager(TJpegError& error) {
    jpeg_std_error(&error.Manager);
    error.Manager.error_exit = JpegErrorExit;
    error.Manager.output_message = JpegOutputMessage;
    error.Message[0] = '\0';
}

// Where DecodeJpeg delivers rows. Both calls run between libjpeg calls and must not throw.
class TJpegSink {
public:
    // Called once the header is read and the output format is chosen. Returns the buffer
    // for one CMYK row when the output is CMYK (it is converted row by row), else null;
    // sets `ok` to false to stop decoding.
    virtual std::uint8_t* Prepare(const jpeg_decompress_struct& info, bool& ok) noexcept = 0;
    // Row y (from the top) of the target, width × 3 bytes (BGR) or width bytes (grey).
    virtual std::uint8_t* Row(JDIMENSION y) noexcept = 0;

protected:
    ~TJpegSink() = default;
};

// libjpeg calls its progress monitor between rows and, for a file of several scans, within
// the input pass that reads every scan before the first row comes out. A stop requested
// there leaves libjpeg the way an error does.
struct TJpegProgress {
    jpeg_progress_mgr Manager;  // first, so libjpeg's pointer converts back to this record
    const std::stop_token* Stop;
    std::jmp_buf* Jump;
    bool Stopped;
};

extern "C" void JpegProgressMonitor(j_common_ptr cinfo) {
    auto* progress = reinterpret_cast<TJpegProgress*>(cinfo->progress);
    if (progress->Stop->stop_requested()) {
        progress->Stopped = true;
        std::longjmp(*progress->Jump, 1);
    }
}

struct TJpegDecodeJob {
    jpeg_decompress_struct Info;
    TJpegError Error;
    TJpegProgress Progress;
    bool Created;
    const std::uint8_t* Data;
    unsigned long Size;
    TJpegSink* Sink;
    int BoxWidth;  // the decode box; 0 × 0 decodes at full size
    int BoxHeight;
};

struct TJpegEncodeJob {
    jpeg_compress_struct Info;
    TJpegError Error;
    bool Created;
    const TDibSection* Source;  // 24 bits per pixel
    int Quality;
    unsigned char* Out;  // malloc'd by libjpeg's memory destination
    unsigned long OutSize;
};

// 255 × a × b / 255² rounded, as the reference conversion computes (a × b + 128) / 255.
inline int MulDiv255(int a, int b) {
    const int t = a * b + 128;
    return ((t >> 8) + t) >> 8;
}

// CMYK to BGR by R = (255 - K) - C × (255 - K) / 255, and the same for G and B. Adobe
// writers store CMYK inverted (0 = full ink), which `inverted` undoes first.
void CmykToBgr(const std::uint8_t* in, std::uint8_t* out, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
        const int c = inverted ? 255 - in[0] : in[0];
        const int m = inverted ? 255 - in[1] : in[1];
        const int y = inverted ? 255 - in[2] : in[2];
        const int nk = inverted ? in[3] : 255 - in[3];
        out[2] = static_cast<std::uint8_t>(std::clamp(nk - MulDiv255(c, nk), 0, 255));
        out[1] = static_cast<std::uint8_t>(std::clamp(nk - MulDiv255(m, nk), 0, 255));
        out[0] = static_cast<std::uint8_t>(std::clamp(nk - MulDiv255(y, nk), 0, 255));
    }
}

// Bytes libjpeg keeps for the whole image's coefficients when the file has several scans
// (progressive or multi-scan): 64 two-byte coefficients a block, each component padded to
// whole MCUs. 0 for a single-scan file, which is decoded row by row.
std::uint64_t CoefficientBytes(const jpeg_decompress_struct& jpeg) {
    if (!jpeg_has_multiple_scans(const_cast<j_decompress_ptr>(&jpeg))) return 0;
    std::uint64_t total = 0;
    for (int i = 0; i < jpeg.num_components; ++i) {
        const jpeg_component_info& c = jpeg.comp_info[i];
        const auto round = [](std::uint64_t v, std::uint64_t m) {
            return m ? (v + m - 1) / m * m : v;
        };
        total += round(c.width_in_blocks, static_cast<std::uint64_t>(c.h_samp_factor)) *
                 round(c.height_in_blocks, static_cast<std::uint64_t>(c.v_samp_factor)) * 128;
    }
    return total;
}

// Runs the whole decode. Returns false when libjpeg failed (its message in Error.Message)
// or the sink refused.
bool DecodeJpeg(TJpegDecodeJob& job) {
    if (setjmp(job.Error.Jump)) return false;
    jpeg_create_decompress(&job.Info);
    job.Created = true;
    if (job.Progress.Stop->stop_possible()) {
        job.Progress.Manager.progress_monitor = JpegProgressMonitor;
        job.Progress.Jump = &job.Error.Jump;
        job.Info.progress = &job.Progress.Manager;
    }
    jpeg_mem_src(&job.Info, job.Data, job.Size);
    jpeg_read_header(&job.Info, TRUE);
    switch (job.Info.jpeg_color_space) {
        case JCS_GRAYSCALE:
            job.Info.out_color_space = JCS_GRAYSCALE;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            job.Info.out_color_space = JCS_CMYK;
            break;
        default:
            job.Info.out_color_space = JCS_EXT_BGR;
            break;
    }
    job.Info.scale_num = 1;
    job.Info.scale_denom = static_cast<unsigned>(
        JpegScaleDenominator(static_cast<int>(job.Info.image_width),
                             static_cast<int>(job.Info.image_height), job.BoxWidth, job.BoxHeight));
    jpeg_calc_output_dimensions(&job.Info);
    bool ok = true;
    std::uint8_t* cmykRow = job.Sink->Prepare(job.Info, ok);
    if (!ok) return false;
    // The sink counted the coefficient buffer of a multi-scan file against the limit; a
    // libjpeg that honours this cap also fails (it has no backing store) past it.
    job.Info.mem->max_memory_to_use = static_cast<long>(PictureMemoryLimit());
    jpeg_start_decompress(&job.Info);
    const bool inverted = job.Info.saw_Adobe_marker != 0;
    while (job.Info.output_scanline < job.Info.output_height) {
        const JDIMENSION y = job.Info.output_scanline;
        JSAMPROW row = cmykRow ? cmykRow : job.Sink->Row(y);
        if (jpeg_read_scanlines(&job.Info, &row, 1) != 1) break;
        if (cmykRow) CmykToBgr(cmykRow, job.Sink->Row(y), job.Info.output_width, inverted);
    }
    jpeg_finish_decompress(&job.Info);
    return true;
}

bool EncodeJpeg(TJpegEncodeJob& job) {
    if (setjmp(job.Error.Jump)) return false;
    jpeg_create_compress(&job.Info);
    job.Created = true;
    jpeg_mem_dest(&job.Info, &job.Out, &job.OutSize);
    job.Info.image_width = static_cast<JDIMENSION>(job.Source->Width());
    job.Info.image_height = static_cast<JDIMENSION>(job.Source->Height());
    job.Info.input_components = 3;
    job.Info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&job.Info);
    jpeg_set_quality(&job.Info, job.Quality, TRUE);
    jpeg_start_compress(&job.Info, TRUE);
    while (job.Info.next_scanline < job.Info.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(job.Source->Row(static_cast<int>(job.Info.next_scanline)));
        jpeg_write_scanlines(&job.Info, &row, 1);
    }
    jpeg_finish_compress(&job.Info);
    return true;
}

// The bytes of the stream from its position: addressed in place when the stream holds
// them in memory, else copied into `copy`.
std::span<const std::uint8_t> StreamBytes(TStream& stream, std::vector<std::uint8_t>& copy) {
    std::span<const std::uint8_t> data = RemainingBytes(stream);
    if (!data.empty()) return data;
    const std::int64_t size = stream.Size() - stream.Position();
    if (size <= 0) return {};
    copy.resize(static_cast<std::size_t>(size));
    stream.ReadBuffer(copy.data(), size);
    return copy;
}

}  // namespace

int JpegScaleDenominator(int width, int height, int boxWidth, int boxHeight) {
    if (boxWidth <= 0 || boxHeight <= 0 || width <= 0 || height <= 0) return 1;
    for (int d = 8; d > 1; d /= 2) {
        // libjpeg's output size: the side times 1/d, rounded up.
        const std::int64_t w = (std::int64_t{width} + d - 1) / d;
        const std::int64_t h = (std::int64_t{height} + d - 1) / d;
        if (w >= boxWidth && h >= boxHeight) return d;
    }
    return 1;
}

TJpgPicture::~TJpgPicture() = default;

std::int64_t TJpgPicture::ReadHeader(TStream& stream, std::unique_ptr<TDibInfo>& info) {
    FTempBitmap.reset();
    std::vector<std::uint8_t> copy;
    const std::span<const std::uint8_t> data = StreamBytes(stream, copy);

    // Makes the picture's record and the temporary bitmap once the size is known.
    class TSink final : public TJpegSink {
    public:
        explicit TSink(TJpgPicture& picture) : FPicture(picture) {}
        std::uint8_t* Prepare(const jpeg_decompress_struct& jpeg, bool& ok) noexcept override {
            try {
                const bool grey = jpeg.out_color_space == JCS_GRAYSCALE;
                // A reduced decode is refused where the full one would be: the entry of a
                // picture too large to load must not appear, nor a size its 32-bit fields
                // cannot hold.
                const std::uint64_t fullBytes = DibBytesPerLine(jpeg.image_width, grey ? 8 : 24) *
                                                std::uint64_t{jpeg.image_height};
                if (fullBytes > kMaxImageSize)
                    throw EPixError(SImageTooLarge, static_cast<int>(jpeg.image_width),
                                    static_cast<int>(jpeg.image_height));
                const std::uint64_t bytes = DibBytesPerLine(jpeg.output_width, grey ? 8 : 24) *
                                            std::uint64_t{jpeg.output_height};
                const int w = static_cast<int>(jpeg.output_width);
                const int h = static_cast<int>(jpeg.output_height);
                if (bytes > kMaxImageSize) throw EPixError(SImageTooLarge, w, h);
                // The picture's raster and the decode's own bitmap of the same size, and for
                // a file of several scans libjpeg's buffer of every coefficient of the image.
                CheckPictureMemory(2 * bytes + CoefficientBytes(jpeg));
                FPicture.FPaletteKind = grey ? pkGray256 : pkTrueColor;
                FPicture.AllocInfo(w, h, true);
                if (jpeg.output_width != jpeg.image_width ||
                    jpeg.output_height != jpeg.image_height) {
                    FPicture.FFullWidth = static_cast<int>(jpeg.image_width);
                    FPicture.FFullHeight = static_cast<int>(jpeg.image_height);
                }
                FPicture.FTempBitmap = TDibSection::Create(FPicture.FInfo->Get(), bytes > 65536);
                if (!FPicture.FTempBitmap) throw EPixError(SErrCreateDibSection);
                if (jpeg.out_color_space == JCS_CMYK) {
                    FCmyk.resize(std::size_t{jpeg.output_width} * 4);
                    return FCmyk.data();
                }
                return nullptr;
            } catch (...) {
                Failure = std::current_exception();
                ok = false;
                return nullptr;
            }
        }
        std::uint8_t* Row(JDIMENSION y) noexcept override {
            return FPicture.FTempBitmap->Row(static_cast<int>(y));
        }
        std::exception_ptr Failure;

    private:
        TJpgPicture& FPicture;
        std::vector<std::uint8_t> FCmyk;
    };

    TSink sink(*this);
    TJpegDecodeJob job{};
    InitErrorManager(job.Error);
    job.Info.err = &job.Error.Manager;
    job.Data = data.data();
    job.Size = static_cast<unsigned long>(data.size());
    job.Sink = &sink;
    job.BoxWidth = FDecodeBoxWidth;
    job.BoxHeight = FDecodeBoxHeight;
    job.Progress.Stop = &FStopToken;
    const bool decoded = DecodeJpeg(job);
    if (job.Created) jpeg_destroy_decompress(&job.Info);
    if (sink.Failure) std::rethrow_exception(sink.Failure);
    if (job.Progress.Stopped) {
        FTempBitmap.reset();
        throw EPixError(SLoadCancelled);
    }
    if (!decoded) {
        FTempBitmap.reset();
        throw EPixError(SJpegError, job.Error.Message);
    }
    if (&info != &FInfo) info = std::move(FInfo);
    return 0;
}

void TJpgPicture::ReadBits(TStream& /*stream*/) {
    if (!FTempBitmap || !FBitmap) throw EPixError(SErrCreateDibSection);
    // Both rasters come from FInfo, so the decoded one normally takes the section's place.
    if (AdoptSection(FTempBitmap)) {
        Progress(1, 1, 100);
        return;
    }
    const std::size_t bytes = std::min(FTempBitmap->BytesPerLine(), FBitmap->BytesPerLine());
    const int rows = std::min(FTempBitmap->Height(), FBitmap->Height());
    for (int y = 0; y < rows; ++y) std::memcpy(FBitmap->Row(y), FTempBitmap->Row(y), bytes);
    FTempBitmap.reset();
    Progress(1, 1, 100);
}

void TJpgPicture::ReadFileHeader(TStream& /*stream*/) {}

void TJpgPicture::WriteFileHeader(TStream& /*stream*/) {}

void TJpgPicture::WriteData(TStream& stream, bool /*option*/) {
    if (!FInfo || !FBitmap) throw EPixError(SInvalidImageSize, 0, 0);
    // The picture drawn into a 24-bit bitmap gives BGR rows whatever its own format.
    TDibInfo bgrInfo(40);
    BITMAPINFOHEADER& h = bgrInfo.Header();
    h.biSize = 40;
    h.biWidth = Width();
    h.biHeight = Height();
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = BI_RGB;
    const std::uint64_t size = pix::ImageSize(h);
    h.biSizeImage = static_cast<std::uint32_t>(size);
    FTempBitmap = TDibSection::Create(bgrInfo.Get(), size > 65536);
    if (!FTempBitmap) throw EPixError(SErrCreateDibSection);
    {
        TDeviceContext dc;
        dc.SelectBitmap(FTempBitmap.get());
        Draw(dc, 0, 0, true);
        dc.SelectBitmap(nullptr);
    }

    TJpegEncodeJob job{};
    InitErrorManager(job.Error);
    job.Info.err = &job.Error.Manager;
    job.Source = FTempBitmap.get();
    job.Quality = std::clamp(FQuality, 1, 100);
    const bool encoded = EncodeJpeg(job);
    if (job.Created) jpeg_destroy_compress(&job.Info);
    // libjpeg allocated the output with malloc; it is ours to free, also after a failure.
    std::unique_ptr<unsigned char, decltype(&std::free)> out(job.Out, &std::free);
    FTempBitmap.reset();
    if (!encoded) throw EPixError(SJpegError, job.Error.Message);
    stream.WriteBuffer(out.get(), static_cast<std::int64_t>(job.OutSize));
}

}  // namespace pix
