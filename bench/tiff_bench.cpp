// SPDX-License-Identifier: MIT
// TIFF strip reading: a 16-bit uncompressed grey image and an 8-bit LZW image with
// horizontal differencing, each loaded through TTifPicture, decoded by our strip decoder
// alone, and decoded by libtiff's TIFFReadEncodedStrip from the same file, plus their
// thumbnails. Both files are written with libtiff at start-up.
#include "formats/bmp_picture.h"
#include "tiff/tif_picture.h"
#include "tiff/tiff_reader.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

namespace pix {
namespace {

constexpr int kWidth = 2048;
constexpr int kHeight = 1536;
constexpr TRect kThumb{0, 0, 112, 96};

// Something like a micrograph: smooth shading, edges and a little noise, so that LZW with
// the predictor compresses as it does on real images (neither trivially nor not at all).
std::uint32_t Level(int x, int y) {
    const std::uint32_t noise =
        (static_cast<std::uint32_t>(x) * 2654435761u ^ static_cast<std::uint32_t>(y) * 40503u) >>
        28;
    const std::uint32_t shade = static_cast<std::uint32_t>(x + 2 * y) * 16;
    const std::uint32_t edge = ((x / 97 + y / 61) & 1) ? 9000 : 0;
    return (shade + edge + noise * 64) & 0xFFFF;
}

class TInputs {
public:
    TInputs() {
        FDir = std::filesystem::temp_directory_path() /
               ("pixorama-tiff-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(FDir);
        Path16 = (FDir / "grey16.tif").string();
        PathLzw = (FDir / "grey8-lzw.tif").string();
        Write(Path16, 16, COMPRESSION_NONE);
        Write(PathLzw, 8, COMPRESSION_LZW);
        std::ifstream in(PathLzw, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
        LzwFile.assign(bytes.begin(), bytes.end());
        LzwFileSize = static_cast<std::int64_t>(bytes.size());
    }
    ~TInputs() {
        std::error_code ec;
        std::filesystem::remove_all(FDir, ec);
    }

    std::string Path16, PathLzw;
    std::vector<std::uint8_t> LzwFile;
    std::int64_t LzwFileSize = 0;

private:
    static void Write(const std::string& path, int bits, int compression) {
        bench::WriteGreyTiff(path, kWidth, kHeight, bits, compression, 0,
                             [bits](int y, std::uint8_t* row) {
                                 for (int x = 0; x < kWidth; ++x) {
                                     const std::uint32_t v = Level(x, y);
                                     if (bits == 16) {
                                         const auto s = static_cast<std::uint16_t>(v);
                                         std::memcpy(row + 2 * x, &s, 2);
                                     } else {
                                         row[x] = static_cast<std::uint8_t>(v >> 8);
                                     }
                                 }
                             });
    }

    std::filesystem::path FDir;
};

TInputs& Inputs() {
    static TInputs inputs;
    return inputs;
}

void SetPixelThroughput(benchmark::State& state, int bytesPerPixel) {
    state.SetBytesProcessed(state.iterations() * std::int64_t{kWidth} * kHeight * bytesPerPixel);
}

void LoadPicture(benchmark::State& state, const std::string& path, int bytesPerPixel) {
    for (auto _ : state) {
        TTifPicture picture;
        picture.LoadFromFile(path);
        benchmark::DoNotOptimize(picture.Bits());
    }
    SetPixelThroughput(state, bytesPerPixel);
}

// libtiff's decode of every strip of the file into one buffer, as the peer of our load.
void LibtiffStrips(benchmark::State& state, const std::string& path, int bytesPerPixel) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kWidth) * kHeight * bytesPerPixel);
    TIFFSetWarningHandler(nullptr);
    for (auto _ : state) {
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        const tstrip_t strips = TIFFNumberOfStrips(tif);
        const tmsize_t stripSize = TIFFStripSize(tif);
        std::uint8_t* out = pixels.data();
        for (tstrip_t s = 0; s < strips; ++s) {
            const tmsize_t n = TIFFReadEncodedStrip(tif, s, out, stripSize);
            if (n > 0) out += n;
        }
        TIFFClose(tif);
        benchmark::DoNotOptimize(pixels.data());
    }
    SetPixelThroughput(state, bytesPerPixel);
}

void BM_Tiff_Load16(benchmark::State& state) { LoadPicture(state, Inputs().Path16, 2); }
BENCHMARK(BM_Tiff_Load16)->Unit(benchmark::kMillisecond);

void BM_Tiff_Libtiff16(benchmark::State& state) { LibtiffStrips(state, Inputs().Path16, 2); }
BENCHMARK(BM_Tiff_Libtiff16)->Unit(benchmark::kMillisecond);

// Only the strip loop of the 16-bit load: the samples copied from the mapped file into
// the store, without the window and the 8-bit mapping.
void BM_Tiff_Strips16(benchmark::State& state) {
    TTifPicture picture;
    picture.LoadFromFile(Inputs().Path16);
    TLwMappedStream stream(Inputs().Path16, fmOpenRead | fmShareDenyWrite);
    for (auto _ : state) {
        ReadStrips(stream, *picture.Info(), picture.Fields(), picture, picture.ImgData16()->Words(),
                   picture.Bits(), 1, false);
        benchmark::DoNotOptimize(picture.ImgData16()->Words());
    }
    SetPixelThroughput(state, 2);
}
BENCHMARK(BM_Tiff_Strips16)->Unit(benchmark::kMillisecond);

// Only the strip loop of the LZW load: decoding, undoing the predictor, storing the rows.
void BM_Tiff_StripsLzw(benchmark::State& state) {
    TTifPicture picture;
    picture.LoadFromFile(Inputs().PathLzw);
    TLwMappedStream stream(Inputs().PathLzw, fmOpenRead | fmShareDenyWrite);
    for (auto _ : state) {
        ReadStrips(stream, *picture.Info(), picture.Fields(), picture, nullptr, picture.Bits(), 5,
                   false);
        benchmark::DoNotOptimize(picture.Bits());
    }
    SetPixelThroughput(state, 1);
}
BENCHMARK(BM_Tiff_StripsLzw)->Unit(benchmark::kMillisecond);

void BM_Tiff_LoadLzw(benchmark::State& state) { LoadPicture(state, Inputs().PathLzw, 1); }
BENCHMARK(BM_Tiff_LoadLzw)->Unit(benchmark::kMillisecond);

void BM_Tiff_LibtiffLzw(benchmark::State& state) { LibtiffStrips(state, Inputs().PathLzw, 1); }
BENCHMARK(BM_Tiff_LibtiffLzw)->Unit(benchmark::kMillisecond);

// Our LZW decoder alone over the strips of the same file (predictor not undone), the part
// of the load that TIFFReadEncodedStrip's LZW step corresponds to.
void BM_Tiff_DecodeLzwOnly(benchmark::State& state) {
    TTifPicture picture;
    picture.LoadFromFile(Inputs().PathLzw);
    const TFieldList& fields = picture.Fields();
    TFieldEntry offsets, counts, rows;
    fields.GetField(tagStripOffsets, offsets);
    fields.GetField(tagStripByteCounts, counts);
    fields.GetField(tagRowsPerStrip, rows);
    const std::size_t strips = offsets.Count;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(rows.Value) * kWidth);
    const std::uint8_t* file = Inputs().LzwFile.data();
    auto element = [](const TFieldEntry& e, std::size_t i) {
        std::uint32_t v;
        std::memcpy(
            &v, e.Data ? e.Data->Bytes() + 4 * i : reinterpret_cast<const std::uint8_t*>(&e.Value),
            4);
        return v;
    };
    std::size_t total = 0;
    for (auto _ : state) {
        total = 0;
        for (std::size_t s = 0; s < strips; ++s) {
            std::size_t produced = 0;
            DecodeLzwStrip(std::span(file + element(offsets, s), element(counts, s)), out,
                           produced);
            total += produced;
        }
        benchmark::DoNotOptimize(out.data());
    }
    // Every pixel must have come out, or the figure measures nothing.
    if (total != std::size_t{kWidth} * kHeight) state.SkipWithError("strips decoded short");
    SetPixelThroughput(state, 1);
}
BENCHMARK(BM_Tiff_DecodeLzwOnly)->Unit(benchmark::kMillisecond);

// Loading and drawing the thumbnail of the picture's own palette kind, as the thumbnail
// thread does.
void LoadAndThumb(benchmark::State& state, const std::string& path, int bytesPerPixel) {
    for (auto _ : state) {
        TTifPicture picture;
        picture.LoadFromFile(path);
        TBmpPicture thumb(kThumb.Right, kThumb.Bottom, picture.PaletteKind());
        picture.StretchDraw(thumb.Canvas(), kThumb, false);
        benchmark::DoNotOptimize(thumb.Bits());
    }
    SetPixelThroughput(state, bytesPerPixel);
}

void BM_Tiff_Thumb16(benchmark::State& state) { LoadAndThumb(state, Inputs().Path16, 2); }
BENCHMARK(BM_Tiff_Thumb16)->Unit(benchmark::kMillisecond);

void BM_Tiff_ThumbLzw(benchmark::State& state) { LoadAndThumb(state, Inputs().PathLzw, 1); }
BENCHMARK(BM_Tiff_ThumbLzw)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pix
