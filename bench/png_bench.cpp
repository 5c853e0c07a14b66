// SPDX-License-Identifier: MIT
// PNG inflate and de-filtering: a 2000 × 1500 RGB image and an 8-bit grey image of the same
// size, decoded by TPNGObject and by libpng's simplified API (png_image_finish_read) from the
// same bytes in memory. Both files are written with libpng at start-up, with its default
// adaptive filtering, so every filter type occurs.
#include "imaging/stream.h"
#include "png/png_object.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <png.h>
#include <vector>

namespace pix {
namespace {

constexpr int kWidth = 2000;
constexpr int kHeight = 1500;

// Something like a micrograph: shading, edges and a little noise, so that deflate and the
// filters work as they do on real images.
std::uint8_t Level(int x, int y, int channel) {
    const std::uint32_t noise =
        (static_cast<std::uint32_t>(x) * 2654435761u ^ static_cast<std::uint32_t>(y) * 40503u) >>
        29;
    const std::uint32_t shade = static_cast<std::uint32_t>(x + 2 * y + 37 * channel) / 8;
    const std::uint32_t edge = ((x / 97 + y / 61) & 1) ? 60 : 0;
    return static_cast<std::uint8_t>(shade + edge + noise * 4);
}

std::vector<std::uint8_t> MakePng(bool rgb) {
    const int channels = rgb ? 3 : 1;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kWidth) * kHeight * channels);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < channels; ++c)
                pixels[(static_cast<std::size_t>(y) * kWidth + x) * channels + c] = Level(x, y, c);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kWidth;
    image.height = kHeight;
    image.format = rgb ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr);
    std::vector<std::uint8_t> file(size);
    if (!png_image_write_to_memory(&image, file.data(), &size, 0, pixels.data(), 0, nullptr))
        std::abort();
    file.resize(size);
    return file;
}

const std::vector<std::uint8_t>& File(bool rgb) {
    static const std::vector<std::uint8_t> kRgb = MakePng(true);
    static const std::vector<std::uint8_t> kGrey = MakePng(false);
    return rgb ? kRgb : kGrey;
}

void BM_Png_Decode(benchmark::State& state, bool rgb) {
    const auto& file = File(rgb);
    for (auto _ : state) {
        TSpanStream stream(file);
        TPNGObject png;
        png.LoadFromStream(stream);
        benchmark::DoNotOptimize(png.Bitmap()->Bits());
    }
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight * (rgb ? 3 : 1));
}

void BM_Png_Libpng(benchmark::State& state, bool rgb) {
    const auto& file = File(rgb);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(kWidth) * kHeight * (rgb ? 3 : 1));
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) std::abort();
        image.format = rgb ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
        if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr)) std::abort();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight * (rgb ? 3 : 1));
}

BENCHMARK_CAPTURE(BM_Png_Decode, Rgb2000x1500, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Png_Libpng, Rgb2000x1500, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Png_Decode, Grey2000x1500, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Png_Libpng, Grey2000x1500, false)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pix
