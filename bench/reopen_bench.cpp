// SPDX-License-Identifier: MIT
// Opening a folder of 1000 images again, with its cache file present, against the floor of
// that work: reading the cache file and asking every file's age.
#include "formats/bmp_picture.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/thread.h"
#include "thumbs/thumb_cache.h"
#include "thumbs/thumb_thread.h"

#include "bench_support.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

using namespace pix;

constexpr int kFolderFiles = 1000;

// Runs one generation thread on the folder and returns the number of delivered entries.
int RunThread(const std::string& folder, int decodeThreads = 0) {
    bench::BenchApplication();
    int delivered = 0;
    bool done = false;
    // The entries stay until the run is over, as the grid keeps them until the next load.
    TThumbList entries;
    TSyncTarget target;
    auto thread = std::make_unique<TThumbThread>(folder);
    thread->SetSyncTarget(target);
    thread->DecodeThreads = decodeThreads;
    thread->OnFileList = [&](TThumbThread&, const std::vector<std::string>& list) {
        for (std::size_t i = 0; i < list.size(); ++i) entries.Add(std::make_unique<TThumbInfo>());
    };
    thread->OnThumb = [&](TThumbThread& sender, int index) {
        entries.Items(index).TakeFrom(sender.Info);
        ++delivered;
    };
    thread->OnTerminate = [&](TThread&) { done = true; };
    thread.release()->Resume();
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return delivered;
}

// A folder of 1000 grey 640 × 480 BMP files with its cache file, made once per run.
const std::string& Folder() {
    static const std::string folder = [] {
        const std::string dir =
            (std::filesystem::temp_directory_path() / "pixorama-bench-reopen").string();
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        TBmpPicture picture(640, 480, pkGray256);
        for (int y = 0; y < 480; ++y) {
            std::uint8_t* row = picture.Bits() + static_cast<std::size_t>(y) * 640;
            for (int x = 0; x < 640; ++x)
                row[x] = static_cast<std::uint8_t>((x * 7 + y * 3) & 0xFF);
        }
        for (int i = 0; i < kFolderFiles; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/image%04d.bmp", i);
            picture.SaveToFile(dir + name);
            // An hour old: entries of files written within the last 2 seconds are made again.
            std::filesystem::last_write_time(
                dir + name, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
        }
        RunThread(dir);  // writes the cache file
        return dir;
    }();
    return folder;
}

void BM_Reopen_Warm(benchmark::State& state) {
    const std::string& folder = Folder();
    for (auto _ : state) {
        const int delivered = RunThread(folder, static_cast<int>(state.range(0)));
        if (delivered != kFolderFiles) state.SkipWithError("not every entry came from the cache");
    }
    state.SetItemsProcessed(state.iterations() * kFolderFiles);
}
// Argument: decoding workers, 0 for one per core.
BENCHMARK(BM_Reopen_Warm)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// The least any re-open must do: read the cache file and compare every file's age.
void BM_Reopen_Floor(benchmark::State& state) {
    const std::string& folder = Folder();
    std::vector<std::string> names = FindFiles(folder, {"*.bmp"});
    for (auto _ : state) {
        const auto view = TFileView::Open(folder + "/" + kThumbCacheName, fmOpenRead);
        std::int64_t sum = view->Size();
        for (const std::string& name : names) sum += FileAge(folder + "/" + name);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kFolderFiles);
}
BENCHMARK(BM_Reopen_Floor)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
