// SPDX-License-Identifier: MIT
// Soak run of the thumbnail grid (bench/soak.sh runs it): the grid switches between folders
// several times a second, now and then staying until a folder has loaded, while a second
// thread adds, rewrites, cuts and removes files in those folders. At the end it reports
// the thumbnails delivered per second, the memory after each round of the folders, the
// peak, and any exception that left a worker.
//
//   pixorama_soak [--seconds S] [--switch-ms M] [--mutate-ms M] [--seed N] FOLDER...
//
// Exit status 0 when nothing went wrong, 1 when memory grew past the first round or a
// worker reported an exception, 2 for a wrong call. A crash ends the process by a signal,
// which the script reports.
#include "platform/thread.h"
#include "thumbview/thumb_grid.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
#define PIX_SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PIX_SOAK_ASAN 1
#endif
#endif

namespace {

// Resident and peak resident memory of this process in KiB, from /proc (0 elsewhere).
struct TMemory {
    long Rss = 0;
    long Peak = 0;
};

TMemory ReadMemory() {
    TMemory memory;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) memory.Rss = std::atol(line.c_str() + 6);
        if (line.rfind("VmHWM:", 0) == 0) memory.Peak = std::atol(line.c_str() + 6);
    }
    return memory;
}

// Memory in use once freed blocks went back to the system, so that rounds compare.
long SettledRss() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
    return ReadMemory().Rss;
}

double Mib(long kib) { return static_cast<double>(kib) / 1024.0; }

struct TOptions {
    int Seconds = 300;
    int SwitchMs = 150;
    int MutateMs = 100;
    unsigned Seed = 1;
    std::vector<std::string> Folders;
};

bool ParseOptions(int argc, char** argv, TOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--seconds" && hasValue)
            options.Seconds = std::atoi(argv[++i]);
        else if (arg == "--switch-ms" && hasValue)
            options.SwitchMs = std::atoi(argv[++i]);
        else if (arg == "--mutate-ms" && hasValue)
            options.MutateMs = std::atoi(argv[++i]);
        else if (arg == "--seed" && hasValue)
            options.Seed = static_cast<unsigned>(std::atol(argv[++i]));
        else if (!arg.empty() && arg[0] != '-')
            options.Folders.push_back(fs::absolute(arg).string());
        else
            return false;
    }
    return options.Seconds > 0 && options.SwitchMs > 0 && options.MutateMs > 0 &&
           !options.Folders.empty();
}

// Adds, rewrites, cuts and removes files of its own ("soak-N.ext") in the folders, copying
// the bytes of the folders' own pictures; the folders' original files stay as they were.
// Writes go straight into place, so the grid also meets half-written files.
class TMutator {
public:
    TMutator(const std::vector<std::string>& folders, int intervalMs, unsigned seed)
        : FFolders(folders), FIntervalMs(intervalMs), FRandom(seed) {
        for (const std::string& folder : folders)
            for (const auto& item : fs::directory_iterator(folder))
                if (item.is_regular_file() && item.path().filename() != "pixorama.dtd")
                    FPool.push_back(item.path());
    }

    void Start() {
        FThread = std::thread([this] { Run(); });
    }

    // Stops and removes every file it added, so the next run starts from the same folders.
    void Stop() {
        FStop = true;
        if (FThread.joinable()) FThread.join();
        std::error_code ec;
        for (const fs::path& path : FAdded) fs::remove(path, ec);
        FAdded.clear();
    }

    long Actions() const { return FActions; }

private:
    static constexpr std::size_t kMaxAddedPerRun = 40;

    void Run() {
        while (!FStop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(FIntervalMs));
            std::error_code ec;
            Act(ec);
            ++FActions;
        }
    }

    void Act(std::error_code& ec) {
        if (FPool.empty()) return;
        const int action = static_cast<int>(Pick(4));
        if (FAdded.empty() || (action == 0 && FAdded.size() < kMaxAddedPerRun)) {
            const fs::path& source = FPool[Pick(FPool.size())];
            const std::string& folder = FFolders[Pick(FFolders.size())];
            fs::path target = fs::path(folder) /
                              ("soak-" + std::to_string(FNext++) + source.extension().string());
            fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
            if (!ec) FAdded.push_back(target);
            return;
        }
        const std::size_t which = Pick(FAdded.size());
        const fs::path& target = FAdded[which];
        switch (action) {
        case 1: {  // another picture's bytes under the same name
            const fs::path& source = FPool[Pick(FPool.size())];
            fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
            break;
        }
        case 2: {  // cut short, as a copy that is still running
            const auto size = fs::file_size(target, ec);
            if (!ec) fs::resize_file(target, size / (2 + Pick(6)), ec);
            break;
        }
        default:  // removed
            fs::remove(target, ec);
            FAdded.erase(FAdded.begin() + static_cast<std::ptrdiff_t>(which));
            break;
        }
    }

    std::size_t Pick(std::size_t count) {
        return std::uniform_int_distribution<std::size_t>(0, count - 1)(FRandom);
    }

    std::vector<std::string> FFolders;
    int FIntervalMs;
    std::mt19937 FRandom;
    std::vector<fs::path> FPool;
    std::vector<fs::path> FAdded;
    unsigned long FNext = 0;
    std::atomic<bool> FStop{false};
    std::atomic<long> FActions{0};
    std::thread FThread;
};

}  // namespace

int main(int argc, char** argv) {
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: pixorama_soak [--seconds S] [--switch-ms M] [--mutate-ms M] "
                     "[--seed N] FOLDER...\n");
        return 2;
    }
    QApplication app(argc, argv);

    std::atomic<long> exceptions{0};
    pix::TThread::SetExceptionReport([&](const pix::TThread&, std::exception_ptr error) {
        ++exceptions;
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "worker exception: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "worker exception\n");
        }
    });

    pix::TLwThumbGrid grid;
    grid.resize(1000, 700);
    grid.show();
    long delivered = 0;
    grid.OnNewThumb = [&](int) { ++delivered; };

    TMutator mutator(options.Folders, options.MutateMs, options.Seed);
    std::mt19937 random(options.Seed + 1);

    long switches = 0;
    long reloads = 0;
    long waits = 0;
    std::size_t folder = 0;
    std::vector<long> roundRss;  // settled memory after each round of the folders
    bool waiting = false;
    QElapsedTimer waitClock;

    const auto next = [&] {
        if (waiting) {
            // Stays until the folder has loaded (the grid's thread has ended), at most 5 s.
            if (pix::TThread::RunningCount() > 0 && waitClock.elapsed() < 5000) return;
            waiting = false;
        }
        ++switches;
        if (switches % 9 == 0) {
            ++reloads;
            grid.ReloadDirectory(true);
        } else {
            folder = (folder + 1) % options.Folders.size();
            if (folder == 0) roundRss.push_back(SettledRss());
            grid.SetDirectory(options.Folders[folder]);
        }
        // One switch in six stays until the folder has loaded, so caches get written and
        // read as well as interrupted.
        if (std::uniform_int_distribution<int>(0, 5)(random) == 0) {
            waiting = true;
            ++waits;
            waitClock.start();
        }
    };

    QTimer switcher;
    switcher.setInterval(options.SwitchMs);
    QObject::connect(&switcher, &QTimer::timeout, next);
    long peakSeen = 0;
    QTimer sampler;
    sampler.setInterval(250);
    QObject::connect(&sampler, &QTimer::timeout,
                     [&] { peakSeen = std::max(peakSeen, ReadMemory().Rss); });

    const long startRss = SettledRss();
    QElapsedTimer clock;
    clock.start();
    grid.SetDirectory(options.Folders[0]);
    mutator.Start();
    switcher.start();
    sampler.start();
    QTimer::singleShot(options.Seconds * 1000, &app, &QApplication::quit);
    app.exec();
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    switcher.stop();
    sampler.stop();
    mutator.Stop();

    grid.SetDirectory("");
    const bool ended = pix::TThread::ShutdownAll(10000);
    QCoreApplication::processEvents();
    const long finalRss = SettledRss();
    const TMemory memory = ReadMemory();

    std::printf("seconds            %.1f\n", seconds);
    std::printf("folders            %zu\n", options.Folders.size());
    std::printf("switches           %ld (%.1f/s; %ld reloads, %ld waits for a full load)\n",
                switches, static_cast<double>(switches) / seconds, reloads, waits);
    std::printf("rounds             %zu\n", roundRss.size());
    std::printf("file changes       %ld\n", mutator.Actions());
    std::printf("thumbnails         %ld (%.1f/s)\n", delivered,
                static_cast<double>(delivered) / seconds);
    std::printf("worker exceptions  %ld\n", exceptions.load());
    std::printf("threads ended      %s\n", ended ? "yes" : "NO");
    std::printf("memory at start    %.1f MiB\n", Mib(startRss));
    bool grew = false;
    if (!roundRss.empty()) {
        const long first = roundRss.front();
        const long highest = *std::max_element(roundRss.begin(), roundRss.end());
        std::printf("after round 1      %.1f MiB\n", Mib(first));
        std::printf("after last round   %.1f MiB (highest after any round %.1f MiB)\n",
                    Mib(roundRss.back()), Mib(highest));
        // Allocator noise and Qt's caches stay within a few MiB; a leak of a thumbnail per
        // switch would add hundreds.
        grew = roundRss.back() > first + first / 10 + 16 * 1024;
    }
    std::printf("peak               %.1f MiB (sampled %.1f MiB)\n", Mib(memory.Peak),
                Mib(peakSeen));
    std::printf("final              %.1f MiB\n", Mib(finalRss));
#if defined(PIX_SOAK_ASAN)
    // The address sanitizer keeps freed blocks in quarantine, so memory climbs by design;
    // leaks are its leak checker's business at exit.
    grew = false;
    std::printf("memory growth      not judged under AddressSanitizer\n");
#else
    std::printf("memory growth      %s\n", grew ? "YES" : "none beyond the first round");
#endif
    return grew || exceptions > 0 || !ended ? 1 : 0;
}
