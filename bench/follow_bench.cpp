// SPDX-License-Identifier: MIT
// The thumbnail grid following a live folder: a folder of many small 16-bit TIFFs (10,000 by
// default) receives one 2048 × 1536 16-bit TIFF a second, written by a child process the
// way an acquisition system writes (open, a few chunks over 100-300 ms, close). Measured:
//   - the delay from the close of each new file to the grid's OnNewThumb for its name with
//     a thumbnail (median and maximum);
//   - the bytes this process writes per minute (from /proc/self/io), against what a write of
//     the cache file at every reload would cost (its size × the reloads of the same run);
//   - the reloads, the writes of the cache file (a new inode or date of "pixorama.dtd"),
//     and how long a reload takes to list the folder and to end.
//
//   pixorama_follow_bench [--seconds S | --quick] [--files N] [--folder DIR] [--verbose]
//
// --seconds: the run's length (default 60; --quick: 15); --files: the folder's size;
// --folder: where the folder is kept; --verbose: a line per new file with its reloads.
//
// A plain program rather than a Google Benchmark: it is one long run whose figures come
// from another process's clock and from counters of the kernel, which a benchmark loop
// would only wrap. It needs a QApplication (QT_QPA_PLATFORM defaults to offscreen here).
//
// The folder is made once (DIR, default: beside the program in the build tree) and reused:
// files the child wrote in an earlier run are removed and the cache file made by the first
// run's first load is put back, so that every run starts from the same folder. A first load
// of the grid reads (or, the first time, makes) the cache file before the run.
//
// The bytes are this process's wchar: every byte handed to write() and its kin by any of
// its threads, live or ended, whatever the file system, so the cache file's writes count in
// full at the moment they are made. write_bytes (bytes sent towards storage) is printed as
// a check; it depends on the file system (nothing on tmpfs) and on the page cache. wchar
// also counts the event loop's wake-ups (8 bytes each, a few KiB a minute). The child that
// writes the images is forked before the application object and any thread exist; its
// writes land in its own counters, and the figures are read before it is reaped, since
// waiting for a child adds its counters to the parent's.
#include "thumbview/thumb_grid.h"

#include "platform/thread.h"
#include "thumbs/thumb_info.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

#ifndef PIXORAMA_FOLLOW_FOLDER
#define PIXORAMA_FOLLOW_FOLDER "follow-bench"
#endif

namespace {

constexpr int kSmallWidth = 64;
constexpr int kSmallHeight = 48;
constexpr int kNewWidth = 2048;
constexpr int kNewHeight = 1536;
constexpr const char* kCacheName = "pixorama.dtd";

using TClock = std::chrono::steady_clock;  // CLOCK_MONOTONIC: the same in both processes

std::int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

double Ms(std::int64_t ns) { return static_cast<double>(ns) / 1e6; }

void SleepUntilNs(std::int64_t when) {
    timespec at{static_cast<time_t>(when / 1'000'000'000), static_cast<long>(when % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string FileName(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "img-%06d.tif", index);
    return name;
}

// Smooth shading with edges and a little noise, as a micrograph has.
std::uint16_t Level(int x, int y, int seed) {
    const std::uint32_t noise = (static_cast<std::uint32_t>(x + seed) * 2654435761u ^
                                 static_cast<std::uint32_t>(y) * 40503u) >>
                                28;
    const std::uint32_t shade = static_cast<std::uint32_t>(x + 2 * y + seed) * 16;
    const std::uint32_t edge = ((x / 97 + y / 61) & 1) ? 9000 : 0;
    return static_cast<std::uint16_t>((shade + edge + noise * 64) & 0xFFFF);
}

// An uncompressed little-endian one-strip 16-bit grey TIFF: header, pixels, then the
// directory at the end, as libtiff lays a file out, so that a file cut short has no
// directory yet. The pixels start at kTiffPixels.
constexpr std::size_t kTiffPixels = 8;

std::vector<std::uint8_t> MakeTiff(int width, int height, int seed) {
    const std::size_t pixels = static_cast<std::size_t>(width) * height * 2;
    const std::size_t ifd = kTiffPixels + pixels + (pixels & 1);
    constexpr int kEntries = 10;
    std::vector<std::uint8_t> file(ifd + 2 + kEntries * 12 + 4, 0);
    auto put16 = [&](std::size_t at, std::uint32_t v) {
        file[at] = static_cast<std::uint8_t>(v);
        file[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    file[0] = 'I';
    file[1] = 'I';
    put16(2, 42);
    put32(4, static_cast<std::uint32_t>(ifd));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            put16(kTiffPixels + (static_cast<std::size_t>(y) * width + x) * 2, Level(x, y, seed));
    put16(ifd, kEntries);
    std::size_t at = ifd + 2;
    auto entry = [&](std::uint32_t tag, std::uint32_t type, std::uint32_t value) {
        put16(at, tag);
        put16(at + 2, type);
        put32(at + 4, 1);
        if (type == 3)
            put16(at + 8, value);
        else
            put32(at + 8, value);
        at += 12;
    };
    constexpr std::uint32_t kShort = 3, kLong = 4;
    entry(256, kLong, static_cast<std::uint32_t>(width));
    entry(257, kLong, static_cast<std::uint32_t>(height));
    entry(258, kShort, 16);  // bits per sample
    entry(259, kShort, 1);   // no compression
    entry(262, kShort, 1);   // black is zero
    entry(273, kLong, kTiffPixels);
    entry(277, kShort, 1);  // samples per pixel
    entry(278, kLong, static_cast<std::uint32_t>(height));
    entry(279, kLong, static_cast<std::uint32_t>(pixels));
    entry(284, kShort, 1);  // contiguous
    return file;
}

struct TOptions {
    int Seconds = 60;
    int Files = 10000;
    std::string Folder;
    bool Verbose = false;
};

bool ParseOptions(int argc, char** argv, TOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--seconds" && hasValue)
            options.Seconds = std::atoi(argv[++i]);
        else if (arg == "--quick")
            options.Seconds = 15;
        else if (arg == "--verbose")
            options.Verbose = true;
        else if (arg == "--files" && hasValue)
            options.Files = std::atoi(argv[++i]);
        else if (arg == "--folder" && hasValue)
            options.Folder = argv[++i];
        else
            return false;
    }
    if (options.Folder.empty())
        options.Folder = std::string(PIXORAMA_FOLLOW_FOLDER) + "-" + std::to_string(options.Files);
    options.Folder = fs::absolute(options.Folder).lexically_normal().string();
    return options.Seconds > 0 && options.Files > 0 && options.Files < 900000;
}

// The folder of small files, made once; a marker beside it tells that it is complete. Files
// of earlier runs' children are removed, and the cache file of the first run's first load
// put back. Returns false when the folder could not be made.
bool PrepareFolder(const TOptions& options, bool& made) {
    const fs::path folder = options.Folder;
    const fs::path ready = options.Folder + ".ready";
    const fs::path baseCache = options.Folder + ".dtd";
    std::error_code ec;
    made = !fs::exists(ready, ec);
    if (made) {
        std::printf("making %d files of %d x %d in %s ...\n", options.Files, kSmallWidth,
                    kSmallHeight, folder.c_str());
        std::fflush(stdout);
        fs::remove_all(folder, ec);
        fs::remove(baseCache, ec);
        fs::create_directories(folder, ec);
        if (ec) return false;
        for (int i = 0; i < options.Files; ++i) {
            const std::vector<std::uint8_t> file = MakeTiff(kSmallWidth, kSmallHeight, i);
            const std::string path = (folder / FileName(i)).string();
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0) return false;
            const bool ok = WriteAll(fd, file.data(), file.size());
            ::close(fd);
            if (!ok) return false;
        }
        std::ofstream(ready) << options.Files << "\n";
        // The files' dates settle (the cache keeps a file written within the last two
        // seconds under a date that makes it again at the next load).
        ::sleep(3);
        return true;
    }
    for (const auto& item : fs::directory_iterator(folder, ec)) {
        const std::string name = item.path().filename().string();
        int index = -1;
        if (std::sscanf(name.c_str(), "img-%d.tif", &index) == 1 && index >= options.Files)
            fs::remove(item.path(), ec);
    }
    if (fs::exists(baseCache, ec))
        fs::copy_file(baseCache, folder / kCacheName, fs::copy_options::overwrite_existing, ec);
    return !ec;
}

// What the child reports for each file it wrote.
struct TWritten {
    std::int64_t Index = 0;
    std::int64_t OpenedNs = 0;
    std::int64_t ClosedNs = 0;
};

// The child: waits for the start (the run's length in seconds, or end of input for none),
// then writes one new file a second, in four chunks over 100-300 ms, and reports each close.
// Each file starts at a random moment of the first 650 ms of its second: a steady beat
// would lock to the grid's own (a reload at most once a second) and measure a single phase
// of the two.
[[noreturn]] void RunWriter(const std::string& folder, int firstIndex, int startFd, int reportFd) {
    std::int32_t seconds = 0;
    if (::read(startFd, &seconds, sizeof seconds) != sizeof seconds) ::_exit(0);
    const std::int64_t start = NowNs();
    std::vector<std::uint8_t> file = MakeTiff(kNewWidth, kNewHeight, 0);
    std::uint32_t random = 12345;
    auto draw = [&random](int below) {
        random = random * 1103515245u + 12345u;
        return static_cast<std::int64_t>((random >> 8) % static_cast<std::uint32_t>(below));
    };
    for (int k = 0; k < seconds; ++k) {
        SleepUntilNs(start + std::int64_t{k} * 1'000'000'000 + draw(650) * 1'000'000);
        // Each file differs from the last in its first row.
        for (std::size_t i = 0; i < 64; ++i)
            file[kTiffPixels + i] = static_cast<std::uint8_t>(k + i);
        const std::int64_t spanNs = (100 + draw(201)) * std::int64_t{1'000'000};
        const std::string path = folder + "/" + FileName(firstIndex + k);
        const std::int64_t opened = NowNs();
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) ::_exit(3);
        constexpr std::size_t kChunks = 4;
        const std::size_t chunk = (file.size() + kChunks - 1) / kChunks;
        for (std::size_t c = 0; c < kChunks; ++c) {
            if (c > 0) SleepUntilNs(opened + spanNs * static_cast<std::int64_t>(c) / (kChunks - 1));
            const std::size_t from = c * chunk;
            const std::size_t size = std::min(chunk, file.size() - from);
            if (!WriteAll(fd, file.data() + from, size)) ::_exit(3);
        }
        ::close(fd);
        TWritten written;
        written.ClosedNs = NowNs();
        written.Index = firstIndex + k;
        written.OpenedNs = opened;
        if (::write(reportFd, &written, sizeof written) != sizeof written) ::_exit(4);
    }
    ::_exit(0);
}

// This process's write counters: wchar counts the bytes of every write() and its kin,
// write_bytes those it caused to be sent to storage.
struct TIoCounters {
    std::int64_t WChar = 0;
    std::int64_t SysCW = 0;
    std::int64_t WriteBytes = 0;
    std::int64_t CancelledWriteBytes = 0;
};

TIoCounters ReadIo() {
    TIoCounters io;
    std::ifstream in("/proc/self/io");
    std::string key;
    std::int64_t value = 0;
    while (in >> key >> value) {
        if (key == "wchar:") io.WChar = value;
        if (key == "syscw:") io.SysCW = value;
        if (key == "write_bytes:") io.WriteBytes = value;
        if (key == "cancelled_write_bytes:") io.CancelledWriteBytes = value;
    }
    return io;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// The cache file as stat() sees it; a write replaces it under a new inode.
struct TFileState {
    bool Exists = false;
    ino_t Inode = 0;
    std::int64_t MtimeNs = 0;
    std::int64_t Size = 0;
    bool operator==(const TFileState&) const = default;
};

TFileState StatFile(const std::string& path) {
    struct stat st {};
    TFileState state;
    if (::stat(path.c_str(), &st) != 0) return state;
    state.Exists = true;
    state.Inode = st.st_ino;
    state.MtimeNs = std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
    state.Size = st.st_size;
    return state;
}

// Runs the event loop until done() or the deadline; `tick` runs every 10 ms meanwhile.
bool RunUntil(const std::function<bool()>& done, TClock::time_point deadline,
              const std::function<void()>& tick) {
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (tick) tick();
        if (done() || TClock::now() >= deadline) loop.quit();
    });
    poll.start();
    if (!done()) loop.exec();
    return done();
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Max(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

double Mib(double bytes) { return bytes / (1024.0 * 1024.0); }

// A reload that followed a change, as the grid's progress reports show it.
struct TReload {
    std::int64_t StartNs = 0;
    std::int64_t ListNs = 0;  // its file list arrived (0: not yet)
    std::int64_t EndNs = 0;   // its thread ended (0: not yet)
    bool Complete = false;    // every entry arrived
};

}  // namespace

int main(int argc, char** argv) {
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: pixorama_follow_bench [--seconds S | --quick] [--files N] "
                     "[--folder DIR] [--verbose]\n");
        return 2;
    }
    bool made = false;
    if (!PrepareFolder(options, made)) {
        std::fprintf(stderr, "cannot prepare %s\n", options.Folder.c_str());
        return 1;
    }

    // The writer goes first, while this process has no other thread.
    int startPipe[2];
    int reportPipe[2];
    if (::pipe2(startPipe, O_CLOEXEC) != 0 || ::pipe2(reportPipe, O_CLOEXEC) != 0) return 1;
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) return 1;
    if (child == 0) {
        ::close(startPipe[1]);
        ::close(reportPipe[0]);
        RunWriter(options.Folder, options.Files, startPipe[0], reportPipe[1]);
    }
    ::close(startPipe[0]);
    ::close(reportPipe[1]);
    ::fcntl(reportPipe[0], F_SETFL, O_NONBLOCK);

    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const std::string cachePath = options.Folder + "/" + kCacheName;
    const std::string loadBefore = LoadAverage();

    int status = 0;
    {
        pix::TLwThumbGrid grid;
        grid.resize(1000, 700);
        grid.show();

        // The new files' entries with a thumbnail, by file index, each arrival's time.
        std::map<int, std::vector<std::int64_t>> arrivals;
        std::vector<TReload> reloads;
        int seenReloads = 0;
        grid.OnNewThumb = [&](int index) {
            const auto& files = grid.Files();
            if (index < 0 || static_cast<std::size_t>(index) >= files.size()) return;
            if (!grid.Thumbs().Items(index).Thumbnail) return;
            int number = -1;
            if (std::sscanf(files[static_cast<std::size_t>(index)].c_str(), "img-%d.tif",
                            &number) == 1 &&
                number >= options.Files)
                arrivals[number].push_back(NowNs());
        };
        grid.OnLoadProgress = [&] {
            const std::int64_t now = NowNs();
            if (grid.FollowReloads() != seenReloads) {
                seenReloads = grid.FollowReloads();
                reloads.push_back(TReload{now});
            }
            if (reloads.empty()) return;
            TReload& last = reloads.back();
            if (last.ListNs == 0 && grid.Loading()) last.ListNs = now;
            if (last.ListNs != 0 && last.EndNs == 0 && !grid.Loading()) {
                last.EndNs = now;
                last.Complete = grid.LoadedCount() == static_cast<int>(grid.Files().size());
            }
        };

        // The first full load: reads the cache file, or makes it on the first run.
        const std::int64_t warmStart = NowNs();
        grid.SetDirectory(options.Folder);
        const bool loaded = RunUntil(
            [&] {
                return !grid.Loading() && pix::TThread::RunningCount() == 0 &&
                       grid.Files().size() >= static_cast<std::size_t>(options.Files) &&
                       grid.LoadedCount() == static_cast<int>(grid.Files().size());
            },
            TClock::now() + std::chrono::minutes(10), nullptr);
        const TFileState warmCache = StatFile(cachePath);
        if (!loaded || !warmCache.Exists) {
            std::fprintf(stderr, "the first load did not end with a cache file\n");
            ::close(startPipe[1]);
            ::waitpid(child, nullptr, 0);
            pix::TThread::ShutdownAll(1000);
            return 1;
        }
        std::error_code ec;
        const std::string baseCache = options.Folder + ".dtd";
        if (!fs::exists(baseCache, ec)) fs::copy_file(cachePath, baseCache, ec);
        std::printf("first load: %zu files in %.2f s%s; cache file %.1f MiB (%.1f KiB a file)\n",
                    grid.Files().size(), Ms(NowNs() - warmStart) / 1000,
                    made ? " (made them)" : " (from the cache file)", Mib(warmCache.Size),
                    static_cast<double>(warmCache.Size) / 1024.0 / options.Files);
        // The grid writes the cache file at most once per WriteEvery, counted from when it
        // took the folder. A run that started at once would end on such a write, half in and
        // half out of its window; after an idle half period the writes fall inside it.
        const auto writeEvery = pix::TLwThumbGrid::TFollowTimes{}.WriteEvery;
        const auto leadIn = options.Seconds >= 2 * writeEvery.count() / 1000
                                ? writeEvery / 2 - std::chrono::nanoseconds(NowNs() - warmStart)
                                : std::chrono::nanoseconds(0);
        if (leadIn.count() > 0) {
            std::printf("idle for %.1f s, so that the cache file's writes fall inside the run\n",
                        static_cast<double>(leadIn.count()) / 1e9);
            std::fflush(stdout);
            RunUntil([] { return false; },
                     TClock::now() + std::chrono::duration_cast<TClock::duration>(leadIn), nullptr);
        }
        reloads.clear();
        seenReloads = grid.FollowReloads();

        // The run.
        std::map<int, TWritten> written;
        TFileState cacheState = warmCache;
        struct TCacheWrite {
            std::int64_t AtNs;
            std::int64_t Size;
        };
        std::vector<TCacheWrite> cacheWrites;  // each new cache file in the run
        std::vector<TCacheWrite> lateWrites;   // after it
        bool inWindow = true;
        // The moments this process's wchar grew by a mebibyte or more since the last look.
        struct TBurst {
            std::int64_t AtNs;
            std::int64_t Bytes;
        };
        std::vector<TBurst> bursts;
        std::int64_t lastWChar = ReadIo().WChar;
        auto tick = [&] {
            const std::int64_t wchar = ReadIo().WChar;
            if (wchar - lastWChar >= (1 << 20)) bursts.push_back({NowNs(), wchar - lastWChar});
            if (wchar - lastWChar >= (1 << 20) || wchar < lastWChar) lastWChar = wchar;
            TWritten w;
            while (::read(reportPipe[0], &w, sizeof w) == sizeof w)
                written[static_cast<int>(w.Index)] = w;
            const TFileState now = StatFile(cachePath);
            if (!(now == cacheState)) {
                cacheState = now;
                if (now.Exists)
                    (inWindow ? cacheWrites : lateWrites).push_back({NowNs(), now.Size});
            }
        };
        const int reloadsBefore = grid.FollowReloads();
        const TIoCounters ioStart = ReadIo();
        const std::int64_t runStart = NowNs();
        const auto windowEnd = TClock::now() + std::chrono::seconds(options.Seconds);
        const std::int32_t seconds = options.Seconds;
        if (::write(startPipe[1], &seconds, sizeof seconds) != sizeof seconds) {
            std::fprintf(stderr, "the writer did not start\n");
            pix::TThread::ShutdownAll(1000);
            return 1;
        }
        RunUntil([] { return false; }, windowEnd, tick);
        // Before the child is reaped: waiting for it adds its counters to this process's.
        const TIoCounters ioEnd = ReadIo();
        const std::int64_t runNs = NowNs() - runStart;
        const int windowReloads = grid.FollowReloads() - reloadsBefore;
        const TFileState windowCache = StatFile(cachePath);
        inWindow = false;

        // The last files' thumbnails, up to 15 s after the last close.
        ::waitpid(child, &status, 0);
        ::close(startPipe[1]);
        lastWChar = ReadIo().WChar;  // now with the child's writes
        auto allArrived = [&] {
            if (static_cast<int>(written.size()) < options.Seconds) return false;
            for (const auto& [index, w] : written) {
                const auto at = arrivals.find(index);
                if (at == arrivals.end() ||
                    std::none_of(at->second.begin(), at->second.end(),
                                 [&](std::int64_t t) { return t >= w.ClosedNs; }))
                    return false;
            }
            return true;
        };
        tick();
        RunUntil(allArrived, TClock::now() + std::chrono::seconds(15), tick);

        // Leaving the folder writes what the reloads carried.
        const TIoCounters ioBeforeFlush = ReadIo();
        grid.SetDirectory("");
        RunUntil([] { return pix::TThread::RunningCount() == 0; },
                 TClock::now() + std::chrono::seconds(60), tick);
        tick();
        const TIoCounters ioAfterFlush = ReadIo();
        const std::string loadAfter = LoadAverage();

        // Delays, and where they went: from the close to the start of the reload that
        // delivered the thumbnail, to its file list, to the thumbnail.
        std::vector<double> delays, toReload, toList, toThumb, writeMs;
        int missed = 0, early = 0;
        for (const auto& [index, w] : written) {
            writeMs.push_back(Ms(w.ClosedNs - w.OpenedNs));
            const auto at = arrivals.find(index);
            std::int64_t first = 0;
            if (at != arrivals.end()) {
                for (const std::int64_t t : at->second) {
                    if (t < w.ClosedNs)
                        ++early;
                    else if (first == 0)
                        first = t;
                }
            }
            if (first == 0) {
                ++missed;
                continue;
            }
            delays.push_back(Ms(first - w.ClosedNs));
            const TReload* by = nullptr;
            for (const TReload& r : reloads)
                if (r.StartNs <= first) by = &r;
            if (by != nullptr && by->ListNs != 0 && by->ListNs <= first) {
                toReload.push_back(Ms(by->StartNs - w.ClosedNs));
                toList.push_back(Ms(by->ListNs - by->StartNs));
                toThumb.push_back(Ms(first - by->ListNs));
            }
        }
        std::vector<double> reloadMs, listMs;
        int incomplete = 0;
        for (const TReload& r : reloads) {
            if (r.ListNs != 0) listMs.push_back(Ms(r.ListNs - r.StartNs));
            if (r.EndNs != 0) reloadMs.push_back(Ms(r.EndNs - r.StartNs));
            if (r.EndNs != 0 && !r.Complete) ++incomplete;
        }

        const double minutes = static_cast<double>(runNs) / 60e9;
        const double wchar = static_cast<double>(ioEnd.WChar - ioStart.WChar);
        const double storage = static_cast<double>(ioEnd.WriteBytes - ioStart.WriteBytes);
        const double cancelled =
            static_cast<double>(ioEnd.CancelledWriteBytes - ioStart.CancelledWriteBytes);
        // A write of the cache file at every reload: its size at the window's end each time.
        const double everyReload = static_cast<double>(windowCache.Size) * windowReloads;

        std::printf("\nfolder %s: %d files + 1 new %d x %d 16-bit TIFF a second for %d s\n",
                    options.Folder.c_str(), options.Files, kNewWidth, kNewHeight, options.Seconds);
        std::printf("load average before %s, after %s (2 cores)\n", loadBefore.c_str(),
                    loadAfter.c_str());
        std::printf("child: %zu files written, open to close median %.0f ms, max %.0f ms\n",
                    written.size(), Median(writeMs), Max(writeMs));
        std::printf("\n%-44s %10s %10s\n", "delay from close to OnNewThumb", "median", "max");
        std::printf("%-44s %8.0f ms %8.0f ms   (goal < 2000 ms; %zu files, %d missed)\n", "  total",
                    Median(delays), Max(delays), delays.size(), missed);
        std::printf("%-44s %8.0f ms %8.0f ms\n", "  close to start of the delivering reload",
                    Median(toReload), Max(toReload));
        std::printf("%-44s %8.0f ms %8.0f ms\n", "  reload start to its file list", Median(toList),
                    Max(toList));
        std::printf("%-44s %8.0f ms %8.0f ms\n", "  file list to the new thumbnail",
                    Median(toThumb), Max(toThumb));
        std::printf("%-44s %8.0f ms %8.0f ms   (%zu reloads, %d cut short)\n",
                    "reload: start to end of its thread", Median(reloadMs), Max(reloadMs),
                    reloadMs.size(), incomplete);
        std::printf("thumbnails of a new file before its close: %d\n", early);

        std::printf("\nwrites of this process over %.1f s:\n", static_cast<double>(runNs) / 1e9);
        std::printf("  wchar        %10.1f MiB  = %8.2f MiB/min  (%" PRId64 " write calls)\n",
                    Mib(wchar), Mib(wchar / minutes), ioEnd.SysCW - ioStart.SysCW);
        std::printf("  write_bytes  %10.1f MiB  = %8.2f MiB/min  (cancelled %.1f MiB)\n",
                    Mib(storage), Mib(storage / minutes), Mib(cancelled));
        std::printf("reloads: %d (%.1f a minute)\n", windowReloads, windowReloads / minutes);
        std::printf("cache file written %zu times in the run:", cacheWrites.size());
        for (const TCacheWrite& write : cacheWrites)
            std::printf(" at %.1f s (%.1f MiB)", Ms(write.AtNs - runStart) / 1000,
                        Mib(static_cast<double>(write.Size)));
        std::printf("; %zu times after it\n", lateWrites.size());
        // The grid's clock of writes starts when it takes the folder, before the run.
        std::printf(
            "  (the folder was shown %.1f s before the run; writes are at least %.0f s "
            "apart)\n",
            Ms(runStart - warmStart) / 1000,
            static_cast<double>(pix::TLwThumbGrid::TFollowTimes{}.WriteEvery.count()) / 1000);
        std::printf("a cache file write at every reload: %.1f MiB x %d = %.1f MiB = %.1f MiB/min\n",
                    Mib(static_cast<double>(windowCache.Size)), windowReloads, Mib(everyReload),
                    Mib(everyReload / minutes));
        std::printf("written / write at every reload: %.3f (%.1f times less)\n",
                    everyReload > 0 ? wchar / everyReload : 0.0,
                    wchar > 0 ? everyReload / wchar : 0.0);
        // Over a long run the writes come once per WriteEvery at most.
        const double writeMinutes = static_cast<double>(writeEvery.count()) / 60000;
        const double bound = static_cast<double>(windowCache.Size) / writeMinutes;
        std::printf(
            "at one write per %.0f s: %.1f MiB/min, %.1f times less than at every "
            "reload\n",
            writeMinutes * 60, Mib(bound), bound > 0 ? everyReload / minutes / bound : 0.0);
        std::printf("leaving the folder wrote %.1f MiB (wchar)\n",
                    Mib(static_cast<double>(ioAfterFlush.WChar - ioBeforeFlush.WChar)));

        if (options.Verbose) {
            std::printf("\nwchar grew by");
            for (const TBurst& burst : bursts)
                std::printf(" %.1f MiB by %.2f s;", Mib(static_cast<double>(burst.Bytes)),
                            Ms(burst.AtNs - runStart) / 1000);
            std::printf(" (window ends at %.2f s)\n", Ms(runNs) / 1000);
            // Per file, in ms from the run's start: open, close, the starts of the reloads
            // and the thumbnails that came after the open.
            std::printf("\nfile    open   close  reloads started / [thumbnails] after the open\n");
            for (const auto& [index, w] : written) {
                std::printf("%5d %7.0f %7.0f ", index, Ms(w.OpenedNs - runStart),
                            Ms(w.ClosedNs - runStart));
                for (const TReload& r : reloads)
                    if (r.StartNs >= w.OpenedNs && r.StartNs < w.OpenedNs + 3'000'000'000)
                        std::printf(" r%.0f(list +%.0f, end +%.0f)", Ms(r.StartNs - runStart),
                                    r.ListNs ? Ms(r.ListNs - r.StartNs) : -1.0,
                                    r.EndNs ? Ms(r.EndNs - r.StartNs) : -1.0);
                const auto at = arrivals.find(index);
                if (at != arrivals.end())
                    for (const std::int64_t t : at->second)
                        std::printf(" [%.0f]", Ms(t - runStart));
                std::printf("\n");
            }
        }
    }
    pix::TThread::FinishAll(10000);
    pix::TThread::ShutdownAll(1000);
    // The child's files stay until the next run removes them.
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
