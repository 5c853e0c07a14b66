// SPDX-License-Identifier: MIT
// Switching folders during a large image: the time from TThumbThread::Terminate to the end
// of the thread while it decodes a 64-megapixel file (8192 × 8192), one folder per format.
// The thread is terminated a fixed time after its file list arrived, when the decode is
// well under way; the files are written once per run with libtiff, libpng and libjpeg.
#include "formats/bmp_picture.h"
#include "platform/thread.h"
#include "thumbs/thumb_thread.h"

#include "bench_support.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>
#include <png.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace pix {
namespace {

constexpr int kSide = 8192;
// How long the decode runs before the thread is told to end.
constexpr auto kDecodeTime = std::chrono::milliseconds(40);

// Shading, edges and a little noise, so that the compressed formats work as on real images.
std::uint16_t Level(int x, int y) {
    const std::uint32_t noise =
        (static_cast<std::uint32_t>(x) * 2654435761u ^ static_cast<std::uint32_t>(y) * 40503u) >>
        28;
    const std::uint32_t shade = static_cast<std::uint32_t>(x + 2 * y) * 4;
    const std::uint32_t edge = ((x / 97 + y / 61) & 1) ? 9000 : 0;
    return static_cast<std::uint16_t>((shade + edge + noise * 64) & 0xFFFF);
}

void Row(int y, std::uint8_t* row, int bits) {
    for (int x = 0; x < kSide; ++x) {
        const std::uint16_t v = Level(x, y);
        if (bits == 16)
            std::memcpy(row + 2 * x, &v, 2);
        else
            row[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(v >> 8);
    }
}

void WriteTiff(const std::string& path, int bits, int compression) {
    // The acquisition system writes its 16-bit images as one strip.
    bench::WriteGreyTiff(path, kSide, kSide, bits, compression,
                         compression == COMPRESSION_NONE ? kSide : 0,
                         [bits](int y, std::uint8_t* row) { Row(y, row, bits); });
}

void WritePng(const std::string& path) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kSide) * kSide);
    for (int y = 0; y < kSide; ++y) Row(y, pixels.data() + static_cast<std::size_t>(y) * kSide, 8);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kSide;
    image.height = kSide;
    image.format = PNG_FORMAT_GRAY;
    if (!png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr)) std::abort();
}

void WriteJpeg(const std::string& path, bool progressive) {
    bench::WriteJpegFile(path, kSide, kSide, 1, progressive,
                         [](int y, std::uint8_t* row) { Row(y, row, 8); });
}

void WriteBmp(const std::string& path) {
    TBmpPicture picture(kSide, kSide, pkGray256);
    // Bottom-up rows: image row y is memory row kSide - 1 - y.
    for (int y = 0; y < kSide; ++y)
        Row(y, picture.Bits() + static_cast<std::size_t>(kSide - 1 - y) * kSide, 8);
    picture.SaveToFile(path);
}

enum TInput { inTiff16, inTiffLzw, inPng, inJpeg, inJpegProgressive, inBmp };

// One folder per input, each holding its single file, made by the first run and kept for
// the next ones (the same bytes every time).
std::string Folder(TInput input) {
    static const std::filesystem::path root =
        std::filesystem::temp_directory_path() / "pixorama-bench-cancel";
    static const char* names[] = {"grey16.tif", "grey8-lzw.tif", "grey8.png",
                                  "grey8.jpg",  "grey8-progressive.jpg", "grey8.bmp"};
    const std::filesystem::path dir = root / std::to_string(static_cast<int>(input));
    const std::string path = (dir / names[input]).string();
    if (!std::filesystem::exists(path)) {
        std::filesystem::create_directories(dir);
        switch (input) {
            case inTiff16: WriteTiff(path, 16, COMPRESSION_NONE); break;
            case inTiffLzw: WriteTiff(path, 8, COMPRESSION_LZW); break;
            case inPng: WritePng(path); break;
            case inJpeg: WriteJpeg(path, false); break;
            case inJpegProgressive: WriteJpeg(path, true); break;
            case inBmp: WriteBmp(path); break;
        }
    }
    return dir.string();
}

// Starts a thread on the folder, terminates it kDecodeTime after its file list arrived, and
// returns the seconds from Terminate to the thread's end, or a negative value when the
// thread had ended before it was told to.
double TerminateDuringDecode(const std::string& folder) {
    bench::BenchApplication();
    bool listed = false, done = false;
    TSyncTarget target;
    auto thread = std::make_unique<TThumbThread>(folder);
    thread->SetSyncTarget(target);
    thread->DecodeThreads = 1;
    thread->OnFileList = [&](TThumbThread&, const std::vector<std::string>&) { listed = true; };
    thread->OnThumb = [&](TThumbThread& sender, int) { sender.Info.Clear(); };
    std::chrono::steady_clock::time_point ended;
    thread->OnTerminate = [&](TThread&) {
        ended = std::chrono::steady_clock::now();
        done = true;
    };
    TThumbThread* running = thread.release();
    running->Resume();
    while (!listed && !done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    std::this_thread::sleep_for(kDecodeTime);
    QCoreApplication::processEvents();
    if (done) return -1;
    // The thread frees itself once it has ended, which happens only after OnTerminate has
    // run on this thread; until then it is alive.
    const auto start = std::chrono::steady_clock::now();
    running->Terminate();
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return std::chrono::duration<double>(ended - start).count();
}

void BM_Cancel(benchmark::State& state) {
    const std::string folder = Folder(static_cast<TInput>(state.range(0)));
    // A run from the cache would not decode: keep none.
    const std::string cache = TThumbThread::CacheFileName(folder + "/");
    int late = 0;
    for (auto _ : state) {
        std::filesystem::remove(cache);
        const double seconds = TerminateDuringDecode(folder);
        if (seconds < 0) {
            ++late;
            state.SetIterationTime(0);
        } else {
            state.SetIterationTime(seconds);
        }
    }
    std::filesystem::remove(cache);
    // Runs in which the decode was over before the thread was told to end.
    state.counters["ended_first"] = late;
}
// Argument: the input (16-bit TIFF in one strip, LZW TIFF, PNG, JPEG, progressive JPEG, BMP).
BENCHMARK(BM_Cancel)
    ->DenseRange(inTiff16, inBmp)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pix
