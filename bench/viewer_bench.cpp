// SPDX-License-Identifier: MIT
// The viewer's first paint of a 2048 × 1536 16-bit TIFF (load, the reduced copy that fits
// a 1024 × 768 view, the paint) against the load of its picture alone, and what a step
// of zoom or a repaint costs afterwards; a redraw at a newly reached zoom and a pan of a
// 4000 × 3000 one; the next file of a folder in the viewer's window once its read-ahead
// has run, and the memory the window holds while stepping through a folder of large
// images. The files are written with libtiff at start-up. A program of its own: its
// window needs a QApplication, which the other benchmarks' QCoreApplication would rule
// out.
#include "bench_support.h"
#include "viewer/image_view.h"
#include "viewer/view_image.h"
#include "viewer/viewer_form.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

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

// A folder of 16-bit TIFFs written once: `count` files of width × height.
class TFolder {
public:
    TFolder(const std::string& name, int width, int height, int count) {
        FDir = std::filesystem::temp_directory_path() /
               ("pixorama-viewer-bench-" + std::to_string(::getpid()) + "-" + name);
        std::filesystem::create_directories(FDir);
        for (int i = 0; i < count; ++i) {
            Paths.push_back((FDir / ("image" + std::to_string(i) + ".tif")).string());
            bench::WriteGreyTiff(Paths.back(), width, height, 16, COMPRESSION_NONE, 0,
                                 [width, i](int y, std::uint8_t* row) {
                                     for (int x = 0; x < width; ++x) {
                                         const std::uint16_t s = Level(x + i, y);
                                         std::memcpy(row + 2 * x, &s, 2);
                                     }
                                 });
        }
    }
    ~TFolder() {
        std::error_code ec;
        std::filesystem::remove_all(FDir, ec);
    }
    std::vector<std::string> Paths;

private:
    std::filesystem::path FDir;
};

const std::string& InputPath() {
    static TFolder input("single", kWidth, kHeight, 1);
    return input.Paths.front();
}

const std::string& LargePath() {
    static TFolder input("large", 4000, 3000, 1);
    return input.Paths.front();
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

// A redraw at a zoom not shown before, of a 4000 × 3000 image: only the visible part is
// averaged while the zoom moves (near the fit, where all of it shows, the kept copy is
// made at once). The argument is the zoom in thousandths.
void BM_Viewer_ZoomRedraw4000(benchmark::State& state) {
    TView view;
    TViewImage image = LoadViewImage(LargePath());
    const double zoom = static_cast<double>(state.range(0)) / 1000;
    for (auto _ : state) {
        state.PauseTiming();
        view.View.SetImage(&image);  // forgets the copies
        view.View.SetZoom(zoom);
        state.ResumeTiming();
        view.Paint();
    }
    view.View.SetImage(nullptr);
}
BENCHMARK(BM_Viewer_ZoomRedraw4000)
    ->Arg(256)
    ->Arg(333)
    ->Arg(500)
    ->Arg(667)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond);

// Panning a 4000 × 3000 image at 1/2 once its copy is made: a scroll and its paint.
void BM_Viewer_Pan4000(benchmark::State& state) {
    TView view;
    TViewImage image = LoadViewImage(LargePath());
    view.View.SetImage(&image);
    view.View.SetZoom(0.5);
    view.View.Render(QRect(0, 0, 1, 1));  // makes the copy
    int step = 0;
    for (auto _ : state) {
        step = (step + 37) % 900;
        view.View.horizontalScrollBar()->setValue(step);
        view.View.verticalScrollBar()->setValue(step / 2);
        view.Paint();
    }
    view.View.SetImage(nullptr);
}
BENCHMARK(BM_Viewer_Pan4000)->Unit(benchmark::kMillisecond);

// Runs the window's queued work until its read-ahead has delivered.
void AwaitReadAhead(TViewerForm& form) {
    for (int i = 0; i < 20000 && !form.ReadingAhead().empty(); ++i) {
        QApplication::processEvents();
        QThread::usleep(200);
    }
    QApplication::processEvents();
}

void PaintForm(TViewerForm& form, QImage& target) {
    QPainter painter(&target);
    form.View()->viewport()->render(&painter);
}

// The next file of a folder of 2048 × 1536 16-bit TIFFs, from the step to its paint, with
// the neighbour read ahead while the previous one showed. Compare with BM_Viewer_Load16.
void BM_Viewer_NextFile16(benchmark::State& state) {
    GuiApplication();
    static TFolder folder("next", kWidth, kHeight, 6);
    TViewerForm form;
    form.resize(kViewWidth + 300, kViewHeight + 80);
    QImage target(kViewWidth, kViewHeight, QImage::Format_RGB32);
    form.OpenFile(folder.Paths.front());
    std::size_t at = 0;
    for (auto _ : state) {
        state.PauseTiming();
        AwaitReadAhead(form);
        if (at + 1 == folder.Paths.size()) {
            form.EndFile(false);
            at = 0;
            AwaitReadAhead(form);
        }
        state.ResumeTiming();
        form.StepFile(1);
        PaintForm(form, target);
        ++at;
    }
}
BENCHMARK(BM_Viewer_NextFile16)->Unit(benchmark::kMillisecond);

std::int64_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::int64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

// Stepping through a folder of eight 4000 × 3000 16-bit TIFFs, forwards and back: the
// largest growth of the resident memory over the window's empty start, against the limit
// of three pictures (the shown one and two neighbours) and 64 MiB.
void BM_Viewer_MemoryStepping4000(benchmark::State& state) {
    GuiApplication();
    static TFolder folder("memory", 4000, 3000, 8);
    std::int64_t peak = 0, base = 0, picture = 0;
    for (auto _ : state) {
        TViewerForm form;
        form.resize(kViewWidth + 300, kViewHeight + 80);
        QImage target(kViewWidth, kViewHeight, QImage::Format_RGB32);
        PaintForm(form, target);
        base = ResidentBytes();
        form.OpenFile(folder.Paths.front());
        picture = static_cast<std::int64_t>(form.Current()->Picture->Section()->ImageSize()) +
                  form.Current()->Picture->ImgData16()->SampleCount() * 2;
        for (int step : {1, 1, 1, 1, 1, 1, 1, -1, -1, -1, 1, 1}) {
            AwaitReadAhead(form);
            form.StepFile(step);
            PaintForm(form, target);
            peak = std::max(peak, ResidentBytes() - base);
        }
        AwaitReadAhead(form);
        peak = std::max(peak, ResidentBytes() - base);
    }
    state.counters["peak_MiB"] = static_cast<double>(peak) / (1 << 20);
    state.counters["limit_MiB"] = static_cast<double>(3 * picture + (64 << 20)) / (1 << 20);
}
BENCHMARK(BM_Viewer_MemoryStepping4000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pix
