// SPDX-License-Identifier: MIT
// Big folders: opening a folder again with its cache file present against the floor of that
// work (reading the cache file and asking every file's age), the cells on screen of an
// uncached folder after a jump to its end, and a folder left half-done and visited again.
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
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace {

using namespace pix;
namespace fs = std::filesystem;

// What one load delivered.
struct TRun {
    int Delivered = 0;
    int FromCache = 0;
    int Made = 0;
};

// Runs one generation thread on the folder. `until` is asked after every delivery; once it
// answers true the thread is terminated (as when the user picks another folder), and the
// run waits for the thread's end, which includes its cache write.
TRun RunThread(const std::string& folder, int decodeThreads,
               std::shared_ptr<TThumbPriority> visible = nullptr,
               const std::function<bool(int index)>& until = {}) {
    bench::BenchApplication();
    TRun run;
    bool done = false;
    // The entries stay until the run is over, as the grid keeps them until the next load.
    TThumbList entries;
    TSyncTarget target;
    auto thread = std::make_unique<TThumbThread>(folder);
    thread->SetSyncTarget(target);
    thread->DecodeThreads = decodeThreads;
    thread->Visible = std::move(visible);
    thread->OnFileList = [&](TThumbThread&, const std::vector<std::string>& list) {
        for (std::size_t i = 0; i < list.size(); ++i) entries.Add(std::make_unique<TThumbInfo>());
    };
    thread->OnThumb = [&](TThumbThread& sender, int index) {
        entries.Items(index).TakeFrom(sender.Info);
        ++run.Delivered;
        ++(sender.FromCache() ? run.FromCache : run.Made);
        if (until && until(index)) sender.Terminate();
    };
    thread->OnTerminate = [&](TThread&) { done = true; };
    thread.release()->Resume();
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return run;
}

// A folder of `files` grey 640 × 480 BMP files: one written, the others hard links to it, so
// that each name still has its own directory entry and date. Made once per run and size;
// `cached` runs one load first, which writes the cache file.
const std::string& Folder(int files, bool cached) {
    static std::map<std::pair<int, bool>, std::string> folders;
    std::string& folder = folders[{files, cached}];
    if (!folder.empty()) return folder;
    folder = (fs::temp_directory_path() /
              ("pixorama-bench-reopen-" + std::to_string(files) + (cached ? "-warm" : "-cold")))
                 .string();
    fs::remove_all(folder);
    fs::create_directories(folder);
    TBmpPicture picture(640, 480, pkGray256);
    for (int y = 0; y < 480; ++y) {
        std::uint8_t* row = picture.Bits() + static_cast<std::size_t>(y) * 640;
        for (int x = 0; x < 640; ++x) row[x] = static_cast<std::uint8_t>((x * 7 + y * 3) & 0xFF);
    }
    const std::string first = folder + "/image00000.bmp";
    picture.SaveToFile(first);
    // An hour old: entries of files written within the last 2 seconds are made again.
    fs::last_write_time(first, fs::file_time_type::clock::now() - std::chrono::hours(1));
    for (int i = 1; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/image%05d.bmp", i);
        fs::create_hard_link(first, folder + name);
    }
    if (cached) RunThread(folder, 0);
    return folder;
}

void RemoveCache(const std::string& folder) { fs::remove(folder + "/" + kThumbCacheName); }

// Arguments: files, decoding workers (0 = one per core).
void BM_Reopen_Warm(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    const std::string& folder = Folder(files, true);
    for (auto _ : state) {
        const TRun run = RunThread(folder, static_cast<int>(state.range(1)));
        if (run.FromCache != files) state.SkipWithError("not every entry came from the cache");
    }
    state.SetItemsProcessed(state.iterations() * files);
}
BENCHMARK(BM_Reopen_Warm)
    ->Args({1000, 1})
    ->Args({1000, 0})
    ->Args({10000, 0})
    ->Args({40000, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The least any re-open must do: read the cache file and compare every file's age.
void BM_Reopen_Floor(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    const std::string& folder = Folder(files, true);
    for (auto _ : state) {
        const std::vector<std::string> names = FindFiles(folder + "/", {"*.bmp"});
        const auto view = TFileView::Open(folder + "/" + kThumbCacheName, fmOpenRead);
        std::int64_t sum = view->Size();
        for (const std::string& name : names) sum += FileAge(folder + "/" + name);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * files);
}
BENCHMARK(BM_Reopen_Floor)->Arg(1000)->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond)->UseRealTime();

// An uncached folder of 5000 files whose last 42 cells (six rows of seven) are on screen
// from the start, as after a jump to the end: the time until all of them have arrived.
// Argument 1 tells the thread which cells show; 0 leaves it to go in file order.
void BM_ColdJumpToEnd(benchmark::State& state) {
    constexpr int kFiles = 5000;
    constexpr int kShown = 42;
    const std::string& folder = Folder(kFiles, false);
    for (auto _ : state) {
        state.PauseTiming();
        RemoveCache(folder);
        std::shared_ptr<TThumbPriority> visible;
        if (state.range(0) != 0) {
            visible = std::make_shared<TThumbPriority>();
            visible->Set(kFiles - kShown, kShown);
        }
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        double seconds = 0;
        int shown = 0;
        RunThread(folder, 0, visible, [&](int index) {
            if (index >= kFiles - kShown && ++shown == kShown) {
                seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                              .count();
                return true;
            }
            return false;
        });
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(BM_ColdJumpToEnd)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// The whole of an uncached folder of 5000 files, for the cold throughput.
void BM_Cold(benchmark::State& state) {
    constexpr int kFiles = 5000;
    const std::string& folder = Folder(kFiles, false);
    for (auto _ : state) {
        state.PauseTiming();
        RemoveCache(folder);
        state.ResumeTiming();
        if (RunThread(folder, 0).Made != kFiles) state.SkipWithError("not every file was made");
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_Cold)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// A folder of 5000 left after 2500 entries were made, then visited again: the counters say
// how many entries the second visit took from the cache and how many it made.
void BM_ResumeHalfDone(benchmark::State& state) {
    constexpr int kFiles = 5000;
    const std::string& folder = Folder(kFiles, false);
    TRun second;
    for (auto _ : state) {
        state.PauseTiming();
        RemoveCache(folder);
        int made = 0;
        RunThread(folder, 0, nullptr, [&](int) { return ++made == kFiles / 2; });
        state.ResumeTiming();
        second = RunThread(folder, 0);
    }
    state.counters["from_cache"] = second.FromCache;
    state.counters["made"] = second.Made;
}
BENCHMARK(BM_ResumeHalfDone)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
