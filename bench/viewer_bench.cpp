// SPDX-License-Identifier: MIT
// The viewer's first paint of a 2048 × 1536 16-bit TIFF (load, the reduced copy that fits
// a 1024 × 768 view, the paint) against the load of its picture alone, and what a step
// of zoom or a repaint costs afterwards. The file is written with libtiff at start-up. A
// program of its own: its window needs a QApplication, which the other benchmarks'
// QCoreApplication would rule out.
#include "bench_support.h"
#include "viewer/image_view.h"
#include "viewer/view_image.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace pix {
namespace {

constexpr int kWidth = 2048;
constexpr int kHeight = 1536;
constexpr int kViewWidth = 1024;
constexpr int kViewHeight = 768;

// Smooth shading with edges and a little noise, as a micrograph has.
std::uint16_t Level(int x, int y) {
    const std::uint32_t noise =
        (static_cast<std::uint32_t>(x) * 2654435761u ^ static_cast<std::uint32_t>(y) * 40503u) >>
        28;
    const std::uint32_t shade = static_cast<std::uint32_t>(x + 2 * y) * 16;
    const std::uint32_t edge = ((x / 97 + y / 61) & 1) ? 9000 : 0;
    return static_cast<std::uint16_t>((shade + edge + noise * 64) & 0xFFFF);
}

class TInput {
public:
    TInput() {
        FDir = std::filesystem::temp_directory_path() /
               ("pixorama-viewer-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(FDir);
        Path = (FDir / "grey16.tif").string();
        bench::WriteGreyTiff(Path, kWidth, kHeight, 16, COMPRESSION_NONE, 0,
                             [](int y, std::uint8_t* row) {
                                 for (int x = 0; x < kWidth; ++x) {
                                     const std::uint16_t s = Level(x, y);
                                     std::memcpy(row + 2 * x, &s, 2);
                                 }
                             });
    }
    ~TInput() {
        std::error_code ec;
        std::filesystem::remove_all(FDir, ec);
    }
    std::string Path;

private:
    std::filesystem::path FDir;
};

const std::string& InputPath() {
    static TInput input;
    return input.Path;
}

QApplication& GuiApplication() {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "pixorama_viewer_bench";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

// A view of the benchmark's size, without a frame, painted into an image as the screen
// would be.
struct TView {
    TView() {
        View.setFrameShape(QFrame::NoFrame);
        View.resize(kViewWidth, kViewHeight);
        Target.fill(Qt::black);
    }
    void Paint() {
        QPainter painter(&Target);
        View.viewport()->render(&painter);
    }
    QApplication& App = GuiApplication();  // before any widget
    TImageView View;
    QImage Target{kViewWidth, kViewHeight, QImage::Format_RGB32};
};

void SetPixels(benchmark::State& state) {
    state.SetBytesProcessed(state.iterations() * std::int64_t{kWidth} * kHeight * 2);
}

void BM_Viewer_Load16(benchmark::State& state) {
    for (auto _ : state) {
        TViewImage image = LoadViewImage(InputPath());
        if (!image.Ok()) state.SkipWithError(image.Error.c_str());
        benchmark::DoNotOptimize(image.Picture->Bits());
    }
    SetPixels(state);
}
BENCHMARK(BM_Viewer_Load16)->Unit(benchmark::kMillisecond);

// From the file to the fitted image on the view: the load, the reduced copy, the paint.
void BM_Viewer_FirstPaint16(benchmark::State& state) {
    TView view;
    for (auto _ : state) {
        TViewImage image = LoadViewImage(InputPath());
        view.View.SetImage(&image);
        view.Paint();
        view.View.SetImage(nullptr);
    }
    SetPixels(state);
}
BENCHMARK(BM_Viewer_FirstPaint16)->Unit(benchmark::kMillisecond);

// A repaint of the fitted view: from the copy kept for the zoom.
void BM_Viewer_Repaint16(benchmark::State& state) {
    TView view;
    TViewImage image = LoadViewImage(InputPath());
    view.View.SetImage(&image);
    view.Paint();
    for (auto _ : state) view.Paint();
    view.View.SetImage(nullptr);
}
BENCHMARK(BM_Viewer_Repaint16)->Unit(benchmark::kMillisecond);

// One step of zoom and its paint: 1/2 ↔ 2/3 makes a new reduced copy each time; 1 ↔ 2
// draws the visible part straight from the picture.
void ZoomSteps(benchmark::State& state, double a, double b) {
    TView view;
    TViewImage image = LoadViewImage(InputPath());
    view.View.SetImage(&image);
    bool flip = false;
    for (auto _ : state) {
        view.View.SetZoom(flip ? a : b);
        view.Paint();
        flip = !flip;
    }
    view.View.SetImage(nullptr);
}
void BM_Viewer_ZoomStepReduced16(benchmark::State& state) { ZoomSteps(state, 0.5, 2.0 / 3); }
BENCHMARK(BM_Viewer_ZoomStepReduced16)->Unit(benchmark::kMillisecond);
void BM_Viewer_ZoomStepEnlarged16(benchmark::State& state) { ZoomSteps(state, 1, 2); }
BENCHMARK(BM_Viewer_ZoomStepEnlarged16)->Unit(benchmark::kMillisecond);

// A new display window: the table, the 8-bit pixels again, the reduced copy, the paint.
void BM_Viewer_Window16(benchmark::State& state) {
    TView view;
    TViewImage image = LoadViewImage(InputPath());
    view.View.SetImage(&image);
    int shift = 0;
    for (auto _ : state) {
        shift = (shift + 97) % 4096;
        view.View.SetWindow(TWindow{shift, 40000 + shift});
        view.Paint();
    }
    view.View.SetImage(nullptr);
    SetPixels(state);
}
BENCHMARK(BM_Viewer_Window16)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pix
