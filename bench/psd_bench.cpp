// SPDX-License-Identifier: MIT
// Decoding VEXA-PSD files: from the mapped file (rows taken in place), and through a stream
// that must copy every row into the reader's buffer. Throughput counts the file's sample
// bytes; each case runs three times and reports the median.
#include "formats/psd_picture.h"
#include "imaging/stream.h"
#include "platform/byte_order.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace pix {
namespace {

// A 12-bit pattern with a few overlay lines, under the full window over the 64-step ramp.
std::vector<std::uint8_t> MakePsd(int width, int height) {
    std::vector<std::uint8_t> file(kPsdHeaderSize + std::size_t(width) * height * 2, 0);
    StoreLE16(file.data(), kPsdMagic);
    StoreLE16(file.data() + 2, static_cast<std::uint16_t>(width));
    StoreLE16(file.data() + 4, static_cast<std::uint16_t>(height));
    StoreLE16(file.data() + 6, 0);
    StoreLE16(file.data() + 8, 4095);
    StoreLE16(file.data() + 28, 32);
    StoreLE16(file.data() + 32, 64);
    std::uint8_t* p = file.data() + kPsdHeaderSize;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x, p += 2) {
            std::uint16_t w = static_cast<std::uint16_t>((x * 3 + y * 5 + ((x ^ y) & 63)) & 0xFFF);
            if (y % 128 == 0 || x % 256 == 0) w |= 0xE000;
            StoreLE16(p, w);
        }
    }
    return file;
}

// The input files, made once per size in a temporary folder and removed at exit.
class TInputs {
public:
    TInputs() {
        FDir = std::filesystem::temp_directory_path() /
               ("pixorama-psd-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(FDir);
    }
    ~TInputs() {
        std::error_code ec;
        std::filesystem::remove_all(FDir, ec);
    }
    const std::vector<std::uint8_t>& Bytes(int width, int height) {
        auto& bytes = FBytes[{width, height}];
        if (bytes.empty()) bytes = MakePsd(width, height);
        return bytes;
    }
    const std::string& Path(int width, int height) {
        std::string& path = FPaths[{width, height}];
        if (path.empty()) {
            path =
                (FDir / (std::to_string(width) + "x" + std::to_string(height) + ".psd")).string();
            const auto& bytes = Bytes(width, height);
            std::ofstream out(path, std::ios::binary);
            out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
        }
        return path;
    }

private:
    std::filesystem::path FDir;
    std::map<std::pair<int, int>, std::vector<std::uint8_t>> FBytes;
    std::map<std::pair<int, int>, std::string> FPaths;
};

TInputs& Inputs() {
    static TInputs inputs;
    return inputs;
}

// A stream that hides its memory, so the reader copies each row through Read.
class TReadOnlyStream : public TStream {
public:
    explicit TReadOnlyStream(std::span<const std::uint8_t> data) : FInner(data) {}
    std::int64_t Read(void* buffer, std::int64_t count) override {
        return FInner.Read(buffer, count);
    }
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, int origin) override {
        return FInner.Seek(offset, origin);
    }

private:
    TSpanStream FInner;
};

void SetThroughput(benchmark::State& state) {
    state.SetBytesProcessed(state.iterations() * state.range(0) * state.range(1) * 2);
}

void BM_Psd_LoadFile(benchmark::State& state) {
    const std::string& path =
        Inputs().Path(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        TPePsdPicture picture;
        picture.LoadFromFile(path);
        benchmark::DoNotOptimize(picture.Bits());
    }
    SetThroughput(state);
}
BENCHMARK(BM_Psd_LoadFile)
    ->Args({512, 384})
    ->Args({2048, 1536})
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

void BM_Psd_LoadStream(benchmark::State& state) {
    const auto& bytes =
        Inputs().Bytes(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        TReadOnlyStream stream(bytes);
        TPePsdPicture picture;
        picture.ReadFileHeader(stream);
        picture.LoadFromStream(stream);
        benchmark::DoNotOptimize(picture.Bits());
    }
    SetThroughput(state);
}
BENCHMARK(BM_Psd_LoadStream)
    ->Args({2048, 1536})
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

// The per-image set-up alone: the 4096-entry table with its exact steps.
void BM_Psd_Translation(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(BuildPsdTranslation(100, 3900, 32, 64));
}
BENCHMARK(BM_Psd_Translation)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace
}  // namespace pix
