// SPDX-License-Identifier: MIT
// MakeThumbInfo per file format over a folder made by bench/make-corpus: the whole per-file
// work of the thumbnail thread (mapping, decoding, drawing into the 112 × 96 thumbnail).
// Each iteration makes the entries of every file of one kind; items/s gives files/s.
//
// The folder is $PIXORAMA_CORPUS when set (a full corpus, e.g. bench/make-corpus DIR);
// otherwise a small one (one to two files per kind) is made in a temporary folder with
// bench/make-corpus --scale 30 and removed at exit.
#include "thumbs/thumb_maker.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace pix {
namespace {

namespace fs = std::filesystem;

class TCorpus {
public:
    TCorpus() {
        if (const char* dir = std::getenv("PIXORAMA_CORPUS"); dir != nullptr && *dir != '\0') {
            FDir = dir;
        } else {
            FDir = fs::temp_directory_path() / ("pixorama-thumbs-" + std::to_string(::getpid()));
            FOwned = true;
            const std::string command = std::string(PIXORAMA_SOURCE_DIR) + "/bench/make-corpus '" +
                                        FDir.string() + "' --scale 30 > /dev/null";
            if (std::system(command.c_str()) != 0)
                throw std::runtime_error("bench/make-corpus failed");
        }
        for (const auto& entry : fs::directory_iterator(FDir))
            if (entry.is_regular_file()) FFiles.push_back(entry.path().string());
        std::sort(FFiles.begin(), FFiles.end());
    }
    ~TCorpus() {
        std::error_code ec;
        if (FOwned) fs::remove_all(FDir, ec);
    }

    // The files whose names start with `prefix` (the corpus names files by kind).
    std::vector<std::string> Files(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& f : FFiles)
            if (fs::path(f).filename().string().rfind(prefix, 0) == 0) out.push_back(f);
        return out;
    }

private:
    fs::path FDir;
    bool FOwned = false;
    std::vector<std::string> FFiles;
};

const TCorpus& Corpus() {
    static TCorpus corpus;
    return corpus;
}

void BM_Thumbs(benchmark::State& state, const std::string& prefix) {
    const std::vector<std::string> files = Corpus().Files(prefix);
    if (files.empty()) {
        state.SkipWithError(("no files named " + prefix + "* in the corpus").c_str());
        return;
    }
    std::int64_t bytes = 0;
    for (auto _ : state) {
        for (const std::string& path : files) {
            TThumbInfo info;
            MakeThumbInfo(path, kDefaultThumbWidth, kDefaultThumbHeight, info);
            benchmark::DoNotOptimize(info.Thumbnail->Bits());
            bytes += static_cast<std::uint32_t>(info.DataSize);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(files.size()));
    state.SetBytesProcessed(bytes);
    // Seconds per file, shown with an SI prefix ("45.1m" = 45.1 ms).
    state.counters["per_file"] = benchmark::Counter(
        static_cast<double>(files.size()),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK_CAPTURE(BM_Thumbs, Jpeg4000x3000, "photo-")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Thumbs, Tiff16Bit2048x1536, "sem16-")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Thumbs, TiffLzw2048x1536, "lzw-")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Thumbs, TiffMosaic, "mosaic-")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Thumbs, Png2000x1500, "picture-")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Thumbs, Psd1280x960, "field-")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Thumbs, Bmp1024x768, "image-")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pix
