// SPDX-License-Identifier: MIT
#include "viewer/image_view.h"

#include "platform/dib.h"
#include "platform/gui/framework_translator.h"
#include "platform/res_strings.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <exception>
#include <thread>
#include <vector>

namespace pix {
namespace {

// The grey entries of the 236-level table that the TIFF picture gives 16-bit images; the
// display window is spread over them.
constexpr std::uint8_t kWindowOutLow = 10;
constexpr std::uint8_t kWindowOutHigh = 245;

// A reduction's copy larger than this is not made: the visible part is averaged for each
// paint instead, which is quick exactly when the zoom is close to 1. The copies kept for
// several zoom levels share a larger budget.
constexpr std::uint64_t kMaxScaledCopyBytes = 32u << 20;
constexpr std::uint64_t kScaledCopiesBudget = 48u << 20;
// A paint makes the copy at once when the whole zoomed picture has at most this many
// times the viewport's pixels (it all shows, so the copy costs what the paint would); else
// the paint averages what shows, and the copy waits until the zoom has rested this long.
constexpr std::int64_t kCopyAtOnceFactor = 1;
constexpr int kCopyRestMs = 150;

// Zoomed sides stay far below int's range, whatever the picture's size.
constexpr double kMaxZoomedSide = 1 << 30;

// A reduced copy of fewer pixels than this per band is drawn by one thread.
constexpr std::int64_t kMinBandPixels = 256 * 1024;
constexpr int kMaxBands = 8;

constexpr int kWheelNotch = 120;
constexpr int kScrollStep = 20;
const QColor kBackground(64, 64, 64);
const QColor kTextColor(230, 230, 230);

// A top-down 24-bit raster of width × height.
std::unique_ptr<TDibSection> MakeTrueColorSection(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    return TDibSection::Create(&info, false);
}

// A QImage over a 24-bit top-down raster's bits, without copying them.
QImage ImageOver(const TDibSection& section) {
    return QImage(section.Bits(), section.Width(), section.Height(),
                  static_cast<qsizetype>(section.BytesPerLine()), QImage::Format_BGR888);
}

// Draws `picture` scaled into width × height with its top left at (x, y) of `target`: the
// picture's own stretch, which averages when it reduces and takes the pixel under each
// target pixel's centre otherwise. Only the target's part is computed. A large target is
// split into bands of rows drawn at the same time, each through a context clipped to its
// band, since the reduction stands between the load and the first paint.
void DrawZoomed(const TDibPicture& picture, TDibSection& target, int x, int y, int width,
                int height) {
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    const std::int64_t pixels = std::int64_t{target.Width()} * target.Height();
    const int bands = static_cast<int>(std::clamp<std::int64_t>(
        std::min<std::int64_t>(cores, pixels / kMinBandPixels), 1, kMaxBands));
    const int rows = target.Height();
    const auto drawBand = [&](int band) {
        TDeviceContext dc;
        dc.SelectBitmap(&target);
        if (bands > 1)
            dc.IntersectClipRect(
                TRect{0, rows * band / bands, target.Width(), rows * (band + 1) / bands});
        picture.StretchDraw(dc, TRect{x, y, x + width, y + height}, true);
        dc.SelectBitmap(nullptr);
    };
    std::vector<std::exception_ptr> failures(static_cast<std::size_t>(bands));
    std::vector<std::thread> helpers;
    for (int band = 1; band < bands; ++band)
        helpers.emplace_back([&, band] {
            try {
                drawBand(band);
            } catch (...) {
                failures[static_cast<std::size_t>(band)] = std::current_exception();
            }
        });
    try {
        drawBand(0);
    } catch (...) {
        failures[0] = std::current_exception();
    }
    for (std::thread& helper : helpers) helper.join();
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

}  // namespace

void PrepareFitCopy(TViewImage& image, int boxWidth, int boxHeight) {
    image.Prepared.reset();
    image.PreparedZoom = 0;
    if (!image.Ok() || boxWidth <= 0 || boxHeight <= 0) return;
    const TDibPicture& picture = *image.Picture;
    const double zoom = FitZoom(picture.Width(), picture.Height(), boxWidth, boxHeight);
    if (zoom >= 1) return;
    const TZoomSize size = ZoomedSize(picture.Width(), picture.Height(), zoom);
    if (DibBytesPerLine(size.Width, 24) * static_cast<std::uint64_t>(size.Height) >
        kMaxScaledCopyBytes)
        return;
    std::unique_ptr<TDibSection> section = MakeTrueColorSection(size.Width, size.Height);
    if (!section) return;
    DrawZoomed(picture, *section, 0, 0, size.Width, size.Height);
    image.Prepared = std::move(section);
    image.PreparedZoom = zoom;
}

QString PixelText(const TDibPicture& picture, int x, int y) {
    const TDibSection* section = picture.Section();
    if (section == nullptr || x < 0 || y < 0 || x >= section->Width() || y >= section->Height())
        return {};
    const std::uint8_t* row = section->Row(y);
    unsigned index = 0;
    switch (section->BitCount()) {
        case 1:
            index = (row[x >> 3] >> (7 - (x & 7))) & 1u;
            break;
        case 4:
            index = (x & 1) ? row[x >> 1] & 0x0Fu : row[x >> 1] >> 4;
            break;
        case 8:
            index = row[x];
            break;
        case 24: {
            const std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * 3;
            return LoadResQString(SViewerRgbColor).arg(x).arg(y).arg(p[2]).arg(p[1]).arg(p[0]);
        }
        default:
            return {};
    }
    if (const TImgData16* samples = picture.ImgData16()) {
        const std::int64_t at = static_cast<std::int64_t>(y) * section->Width() + x;
        if (at < samples->SampleCount())
            return LoadResQString(SViewerSampleIndex)
                .arg(x)
                .arg(y)
                .arg(samples->Words()[at])
                .arg(index);
    }
    const RGBQUAD color =
        index < section->ColorCount() ? section->Colors()[index] : RGBQUAD{0, 0, 0, 0};
    return LoadResQString(SViewerIndexColor)
        .arg(x)
        .arg(y)
        .arg(index)
        .arg(color.rgbRed)
        .arg(color.rgbGreen)
        .arg(color.rgbBlue);
}

TWindow DragWindow(TWindow start, int dx, int dy, int dataMin, int dataMax) {
    const double step = std::max(1, dataMax - dataMin) / static_cast<double>(kWindowDragPixels);
    const double centre = (start.Low + start.High) / 2.0 + dx * step;
    const double width = std::max(1.0, (start.High - start.Low) + dy * step);
    int low = static_cast<int>(std::lround(centre - width / 2));
    int high = static_cast<int>(std::lround(centre + width / 2));
    low = std::clamp(low, 0, 65534);
    high = std::clamp(high, low + 1, 65535);
    return TWindow{low, high};
}

TImageView::TImageView(QWidget* parent) : QAbstractScrollArea(parent) {
    setObjectName("ImageView");
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    horizontalScrollBar()->setSingleStep(kScrollStep);
    verticalScrollBar()->setSingleStep(kScrollStep);
    FCopyTimer = new QTimer(this);
    FCopyTimer->setSingleShot(true);
    FCopyTimer->setInterval(kCopyRestMs);
    connect(FCopyTimer, &QTimer::timeout, this, [this] {
        if (ScaledCopy(true) != nullptr) viewport()->update();
    });
}

TImageView::~TImageView() = default;

const TDibPicture* TImageView::Picture() const {
    return FImage != nullptr ? FImage->Picture.get() : nullptr;
}

QString TImageView::Message() const {
    if (FImage == nullptr || FImage->Ok()) return {};
    return FImage->Error.empty() ? LoadResQString(SViewerNoImage)
                                 : QString::fromUtf8(FImage->Error.c_str());
}

void TImageView::SetImage(TViewImage* image) {
    // The image shown so far keeps its fitted copy, for when it is shown again.
    if (FImage != nullptr && FImage != image && FFit) {
        const auto fitted = std::find_if(FCopies.begin(), FCopies.end(),
                                         [this](const TScaledCopy& c) { return c.Zoom == FZoom; });
        if (fitted != FCopies.end()) {
            FImage->Prepared = std::move(fitted->Section);
            FImage->PreparedZoom = FZoom;
        }
    }
    FImage = image;
    DropScaledCopies();
    FDrag = dgNone;
    if (FFit)
        FZoom = FitZoom(Picture() ? Picture()->Width() : 0, Picture() ? Picture()->Height() : 0,
                        viewport()->width(), viewport()->height());
    FZoom = std::clamp(FZoom, MinZoom(), MaxZoom());
    if (image != nullptr && image->Prepared) {
        if (image->PreparedZoom == FZoom && FZoom < 1)
            FCopies.insert(FCopies.begin(), TScaledCopy{FZoom, std::move(image->Prepared)});
        image->Prepared.reset();
    }
    UpdateScrollBars();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    viewport()->update();
    emit ZoomChanged();
    emit WindowChanged();
}

double TImageView::MaxZoom() const {
    const TDibPicture* picture = Picture();
    if (picture == nullptr) return kMaxZoom;
    const double side = std::max(picture->Width(), picture->Height());
    return std::max(1.0, std::min(kMaxZoom, std::floor(kMaxZoomedSide / side)));
}

double TImageView::MinZoom() const {
    const TDibPicture* picture = Picture();
    if (picture == nullptr) return kMinZoom;
    return std::min(kMinZoom, FitZoom(picture->Width(), picture->Height(), viewport()->width(),
                                      viewport()->height()));
}

void TImageView::FitToWindow() {
    FFit = true;
    const double zoom = Picture() ? FitZoom(Picture()->Width(), Picture()->Height(),
                                            viewport()->width(), viewport()->height())
                                  : 1;
    FZoom = zoom;
    UpdateScrollBars();
    viewport()->update();
    emit ZoomChanged();
}

void TImageView::SetZoom(double zoom) {
    SetZoom(zoom, QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0));
}

void TImageView::SetZoom(double zoom, QPointF anchor) {
    const TDibPicture* picture = Picture();
    FFit = false;
    zoom = std::clamp(zoom, MinZoom(), MaxZoom());
    if (picture == nullptr) {
        FZoom = zoom;
        emit ZoomChanged();
        return;
    }
    // The picture point under the anchor, in pixels of the picture.
    const TZoomSize before = ZoomedSize();
    const QPoint origin = ImageOrigin();
    const double px = (anchor.x() - origin.x()) * picture->Width() / before.Width;
    const double py = (anchor.y() - origin.y()) * picture->Height() / before.Height;
    FZoom = zoom;
    UpdateScrollBars();
    const TZoomSize after = ZoomedSize();
    horizontalScrollBar()->setValue(
        static_cast<int>(std::lround(px * after.Width / picture->Width() - anchor.x())));
    verticalScrollBar()->setValue(
        static_cast<int>(std::lround(py * after.Height / picture->Height() - anchor.y())));
    viewport()->update();
    emit ZoomChanged();
}

void TImageView::StepZoom(int direction) {
    StepZoom(direction, QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0));
}

void TImageView::StepZoom(int direction, QPointF anchor) {
    SetZoom(pix::StepZoom(FZoom, direction), anchor);
}

bool TImageView::HasWindow() const {
    const TDibPicture* picture = Picture();
    return picture != nullptr && picture->ImgData16() != nullptr && picture->BitCount() == 8;
}

TWindow TImageView::Window() const {
    if (!HasWindow()) return TWindow{0, 0};
    const TImgData16* samples = Picture()->ImgData16();
    return TWindow{samples->Min, samples->Max};
}

void TImageView::SetWindow(TWindow window) {
    if (!HasWindow()) return;
    const int low = std::clamp(window.Low, 0, 65534);
    const int high = std::clamp(window.High, low + 1, 65535);
    TDibPicture& picture = *FImage->Picture;
    TImgData16& samples = *picture.ImgData16();
    samples.Min = static_cast<std::uint16_t>(low);
    samples.Max = static_cast<std::uint16_t>(high);
    samples.BuildTable(samples.Min, samples.Max, kWindowOutLow, kWindowOutHigh);
    picture.Map16To8();
    DropScaledCopies();
    viewport()->update();
    emit WindowChanged();
}

void TImageView::ResetWindow() {
    if (!HasWindow()) return;
    // An image whose samples are all one value keeps Min = Max, as its load made it.
    TDibPicture& picture = *FImage->Picture;
    TImgData16& samples = *picture.ImgData16();
    samples.Min = FImage->DataMin;
    samples.Max = FImage->DataMax;
    samples.BuildTable(samples.Min, samples.Max, kWindowOutLow, kWindowOutHigh);
    picture.Map16To8();
    DropScaledCopies();
    viewport()->update();
    emit WindowChanged();
}

TZoomSize TImageView::ZoomedSize() const {
    const TDibPicture* picture = Picture();
    if (picture == nullptr) return TZoomSize{0, 0};
    return pix::ZoomedSize(picture->Width(), picture->Height(), FZoom);
}

QPoint TImageView::ImageOrigin() const {
    const TZoomSize size = ZoomedSize();
    const int x = size.Width < viewport()->width() ? (viewport()->width() - size.Width) / 2
                                                   : -horizontalScrollBar()->value();
    const int y = size.Height < viewport()->height() ? (viewport()->height() - size.Height) / 2
                                                     : -verticalScrollBar()->value();
    return QPoint(x, y);
}

QPoint TImageView::PixelAt(QPointF viewportPos) const {
    const TDibPicture* picture = Picture();
    if (picture == nullptr) return QPoint(-1, -1);
    const TZoomSize size = ZoomedSize();
    const QPoint origin = ImageOrigin();
    const double zx = viewportPos.x() - origin.x();
    const double zy = viewportPos.y() - origin.y();
    if (zx < 0 || zy < 0 || zx >= size.Width || zy >= size.Height) return QPoint(-1, -1);
    const int x = std::min(picture->Width() - 1,
                           static_cast<int>(std::floor(zx * picture->Width() / size.Width)));
    const int y = std::min(picture->Height() - 1,
                           static_cast<int>(std::floor(zy * picture->Height() / size.Height)));
    return QPoint(x, y);
}

void TImageView::DropScaledCopies() {
    FCopies.clear();
    FCopyTimer->stop();
}

const TDibSection* TImageView::ScaledCopy(bool make) {
    const TDibPicture* picture = Picture();
    if (picture == nullptr || FZoom >= 1) return nullptr;
    const auto kept = std::find_if(FCopies.begin(), FCopies.end(),
                                   [this](const TScaledCopy& copy) { return copy.Zoom == FZoom; });
    if (kept != FCopies.end()) {
        std::rotate(FCopies.begin(), kept, kept + 1);
        return FCopies.front().Section.get();
    }
    if (!make) return nullptr;
    const TZoomSize size = ZoomedSize();
    const std::uint64_t bytes =
        DibBytesPerLine(size.Width, 24) * static_cast<std::uint64_t>(size.Height);
    if (bytes > kMaxScaledCopyBytes) return nullptr;
    // The latest used copies stay as long as the new one fits the budget beside them.
    std::uint64_t keptBytes = 0;
    std::size_t keep = 0;
    while (keep < FCopies.size() &&
           keptBytes + FCopies[keep].Section->ImageSize() + bytes <= kScaledCopiesBudget)
        keptBytes += FCopies[keep++].Section->ImageSize();
    FCopies.resize(keep);
    std::unique_ptr<TDibSection> section = MakeTrueColorSection(size.Width, size.Height);
    if (!section) return nullptr;
    DrawZoomed(*picture, *section, 0, 0, size.Width, size.Height);
    FCopies.insert(FCopies.begin(), TScaledCopy{FZoom, std::move(section)});
    return FCopies.front().Section.get();
}

bool TImageView::MakesCopyAtOnce() const {
    const TZoomSize size = ZoomedSize();
    const std::int64_t shown =
        std::int64_t{std::max(1, viewport()->width())} * std::max(1, viewport()->height());
    return std::int64_t{size.Width} * size.Height <= kCopyAtOnceFactor * shown;
}

QImage TImageView::RenderDirect(const QRect& area) const {
    const std::unique_ptr<TDibSection> target = MakeTrueColorSection(area.width(), area.height());
    if (!target) return {};
    const TZoomSize size = ZoomedSize();
    DrawZoomed(*Picture(), *target, -area.x(), -area.y(), size.Width, size.Height);
    return ImageOver(*target).copy();
}

QImage TImageView::Render(const QRect& area) {
    const TZoomSize size = ZoomedSize();
    const QRect part = area & QRect(0, 0, size.Width, size.Height);
    if (Picture() == nullptr || part.isEmpty()) return {};
    if (const TDibSection* scaled = ScaledCopy(true)) return ImageOver(*scaled).copy(part);
    return RenderDirect(part);
}

void TImageView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect exposed = event->rect();
    painter.fillRect(exposed, kBackground);
    if (Picture() == nullptr) {
        const QString text = Message();
        if (text.isEmpty()) return;
        painter.setPen(kTextColor);
        painter.drawText(viewport()->rect().adjusted(16, 16, -16, -16),
                         Qt::AlignCenter | Qt::TextWordWrap, text);
        return;
    }
    const QPoint origin = ImageOrigin();
    const TZoomSize size = ZoomedSize();
    const QRect shown = exposed & QRect(origin, QSize(size.Width, size.Height));
    if (shown.isEmpty()) return;
    const QRect area = shown.translated(-origin);
    if (const TDibSection* scaled = ScaledCopy(MakesCopyAtOnce())) {
        painter.drawImage(shown.topLeft(), ImageOver(*scaled), area);
        return;
    }
    painter.drawImage(shown.topLeft(), RenderDirect(area));
    if (FZoom < 1) FCopyTimer->start();
}

void TImageView::UpdateScrollBars() {
    const TZoomSize size = ZoomedSize();
    const QSize view = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, size.Width - view.width()));
    horizontalScrollBar()->setPageStep(view.width());
    verticalScrollBar()->setRange(0, std::max(0, size.Height - view.height()));
    verticalScrollBar()->setPageStep(view.height());
}

void TImageView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (FFit) {
        FitToWindow();
    } else {
        UpdateScrollBars();
    }
}

void TImageView::scrollContentsBy(int, int) { viewport()->update(); }

void TImageView::wheelEvent(QWheelEvent* event) {
    FWheelAngle += event->angleDelta().y();
    while (std::abs(FWheelAngle) >= kWheelNotch) {
        const int direction = FWheelAngle > 0 ? 1 : -1;
        FWheelAngle -= direction * kWheelNotch;
        StepZoom(direction, event->position());
    }
    event->accept();
}

void TImageView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && Picture() != nullptr) {
        FDrag = dgPan;
        FScrollStart = QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
        viewport()->setCursor(Qt::ClosedHandCursor);
    } else if (event->button() == Qt::RightButton && HasWindow()) {
        FDrag = dgWindow;
        FWindowStart = Window();
    } else {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    FDragStart = event->position().toPoint();
    event->accept();
}

void TImageView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint delta = event->position().toPoint() - FDragStart;
    if (FDrag == dgPan) {
        horizontalScrollBar()->setValue(FScrollStart.x() - delta.x());
        verticalScrollBar()->setValue(FScrollStart.y() - delta.y());
    } else if (FDrag == dgWindow && HasWindow()) {
        const TWindow window =
            DragWindow(FWindowStart, delta.x(), delta.y(), FImage->DataMin, FImage->DataMax);
        const TWindow now = Window();
        if (window.Low != now.Low || window.High != now.High) SetWindow(window);
    }
    emit PointerMoved(PixelAt(event->position()));
    event->accept();
}

void TImageView::mouseReleaseEvent(QMouseEvent* event) {
    if (FDrag == dgNone) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    FDrag = dgNone;
    viewport()->unsetCursor();
    event->accept();
}

bool TImageView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Leave) emit PointerMoved(QPoint(-1, -1));
    return QAbstractScrollArea::viewportEvent(event);
}

}  // namespace pix
