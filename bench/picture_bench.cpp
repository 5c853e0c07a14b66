// SPDX-License-Identifier: MIT
// Loading a large JPEG and BMP through the picture classes, and stretching each into a
// thumbnail. BM_Jpeg_LibjpegDirect decodes the same JPEG with libjpeg alone into one
// buffer, so BM_Jpeg_Load / BM_Jpeg_LibjpegDirect is the cost of the picture model
// (mapping the file, the temporary bitmap and its copy into the section).
#include "formats/bmp_picture.h"
#include "formats/jpg_picture.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace pix {
namespace {

constexpr int kJpegWidth = 4000;
constexpr int kJpegHeight = 3000;
constexpr int kBmpWidth = 2048;
constexpr int kBmpHeight = 1536;
constexpr TRect kThumb{0, 0, 112, 96};

// A smooth colour pattern with some detail, so that the JPEG is neither trivial nor noise.
std::uint8_t Sample(int x, int y, int c) {
    return static_cast<std::uint8_t>((x * (c + 1) + y * (3 - c)) / 8 + ((x ^ y) & 15));
}

// The input files, made once per run in a temporary folder and removed at exit.
class TInputs {
public:
    TInputs() {
        FDir = std::filesystem::temp_directory_path() /
               ("pixorama-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(FDir);
        JpegPath = (FDir / "large.jpg").string();
        BmpPath = (FDir / "large.bmp").string();
        WriteJpeg();
        WriteBmp();
        std::ifstream in(JpegPath, std::ios::binary);
        JpegBytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ~TInputs() {
        std::error_code ec;
        std::filesystem::remove_all(FDir, ec);
    }

    std::string JpegPath, BmpPath;
    std::vector<std::uint8_t> JpegBytes;

private:
    void WriteJpeg() {
        bench::WriteJpegFile(JpegPath, kJpegWidth, kJpegHeight, 3, false,
                             [](int y, std::uint8_t* row) {
                                 for (int x = 0; x < kJpegWidth; ++x)
                                     for (int c = 0; c < 3; ++c) row[3 * x + c] = Sample(x, y, c);
                             });
    }
    void WriteBmp() {
        TBmpPicture picture(kBmpWidth, kBmpHeight, pkTrueColor);
        for (int y = 0; y < kBmpHeight; ++y) {
            std::uint8_t* row = picture.Bits() + picture.BytesPerLine() * y;
            for (int x = 0; x < kBmpWidth; ++x)
                for (int c = 0; c < 3; ++c) row[3 * x + c] = Sample(x, y, c);
        }
        picture.SaveToFile(BmpPath);
    }

    std::filesystem::path FDir;
};

TInputs& Inputs() {
    static TInputs inputs;
    return inputs;
}

void BM_Jpeg_Load(benchmark::State& state) {
    const std::string& path = Inputs().JpegPath;
    for (auto _ : state) {
        TJpgPicture picture;
        picture.LoadFromFile(path);
        benchmark::DoNotOptimize(picture.Bits());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t{kJpegWidth} * kJpegHeight * 3);
}
BENCHMARK(BM_Jpeg_Load)->Unit(benchmark::kMillisecond);

// The peer: libjpeg alone, from memory into one BGR buffer, with the same defaults.
void BM_Jpeg_LibjpegDirect(benchmark::State& state) {
    const std::vector<std::uint8_t>& bytes = Inputs().JpegBytes;
    std::vector<std::uint8_t> pixels(std::size_t{kJpegWidth} * kJpegHeight * 3);
    for (auto _ : state) {
        jpeg_decompress_struct info{};
        jpeg_error_mgr error{};
        info.err = jpeg_std_error(&error);
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&info, TRUE);
        info.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&info);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = pixels.data() + std::size_t{info.output_scanline} * kJpegWidth * 3;
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t{kJpegWidth} * kJpegHeight * 3);
}
BENCHMARK(BM_Jpeg_LibjpegDirect)->Unit(benchmark::kMillisecond);

void BM_Bmp_Load(benchmark::State& state) {
    const std::string& path = Inputs().BmpPath;
    for (auto _ : state) {
        TBmpPicture picture;
        picture.LoadFromFile(path);
        benchmark::DoNotOptimize(picture.Bits());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t{kBmpWidth} * kBmpHeight * 3);
}
BENCHMARK(BM_Bmp_Load)->Unit(benchmark::kMillisecond);

// A thumbnail of the picture's own palette kind, as the thumbnail thread draws it.
void StretchThumb(benchmark::State& state, TDibPicture& picture) {
    for (auto _ : state) {
        TBmpPicture thumb(kThumb.Right, kThumb.Bottom, picture.PaletteKind());
        picture.StretchDraw(thumb.Canvas(), kThumb, false);
        benchmark::DoNotOptimize(thumb.Bits());
    }
    // Nearest-pixel stretching reads one source pixel per thumbnail pixel, so the thumbnail's
    // bytes, not the picture's, measure the work.
    state.SetBytesProcessed(state.iterations() * std::int64_t{kThumb.Right} * kThumb.Bottom * 3);
}

void BM_Jpeg_StretchThumb(benchmark::State& state) {
    TJpgPicture picture;
    picture.LoadFromFile(Inputs().JpegPath);
    StretchThumb(state, picture);
}
BENCHMARK(BM_Jpeg_StretchThumb)->Unit(benchmark::kMillisecond);

void BM_Bmp_StretchThumb(benchmark::State& state) {
    TBmpPicture picture;
    picture.LoadFromFile(Inputs().BmpPath);
    StretchThumb(state, picture);
}
BENCHMARK(BM_Bmp_StretchThumb)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pix
