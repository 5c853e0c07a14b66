// SPDX-License-Identifier: MIT
#include "viewer/image_view.h"

#include "viewer/viewer_messages.h"

#include "platform/dib.h"

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

// A reduction's copy larger than this is not kept: the visible part is averaged for each
// paint instead, which is quick exactly when the zoom is close to 1.
constexpr std::uint64_t kMaxScaledCopyBytes = 32u << 20;

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

// Draws `picture` scaled into width × height with its top left at (x, y) of the raster: the
// picture's own stretch, which averages when it reduces and takes the pixel under each
// target pixel's centre otherwise. Only the raster's part is computed.
void DrawZoomed(const TDibPicture& picture, TDibSection& target, int x, int y, int width,
                int height) {
    TDeviceContext dc;
    dc.SelectBitmap(&target);
    picture.StretchDraw(dc, TRect{x, y, x + width, y + height}, true);
    dc.SelectBitmap(nullptr);
}

// Reduces `picture` into the whole of `target` (width × height). A large copy is split into
// bands of rows drawn at the same time, each through a context clipped to its band, since
// the copy stands between the load and the first paint.
void DrawReduced(const TDibPicture& picture, TDibSection& target) {
    const int width = target.Width(), height = target.Height();
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    const int bands = std::clamp(std::min(cores, static_cast<int>(static_cast<std::int64_t>(width) *
                                                                  height / kMinBandPixels)),
                                 1, kMaxBands);
    if (bands == 1) {
        DrawZoomed(picture, target, 0, 0, width, height);
        return;
    }
    const auto drawBand = [&](int band) {
        TDeviceContext dc;
        dc.SelectBitmap(&target);
        dc.IntersectClipRect(TRect{0, height * band / bands, width, height * (band + 1) / bands});
        picture.StretchDraw(dc, TRect{0, 0, width, height}, true);
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
            return QString(SViewerRgbColor).arg(x).arg(y).arg(p[2]).arg(p[1]).arg(p[0]);
        }
        default:
            return {};
    }
    if (const TImgData16* samples = picture.ImgData16()) {
        const std::int64_t at = static_cast<std::int64_t>(y) * section->Width() + x;
        if (at < samples->SampleCount())
            return QString(SViewerSampleIndex).arg(x).arg(y).arg(samples->Words()[at]).arg(index);
    }
    const RGBQUAD color =
        index < section->ColorCount() ? section->Colors()[index] : RGBQUAD{0, 0, 0, 0};
    return QString(SViewerIndexColor)
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
}

TImageView::~TImageView() = default;

const TDibPicture* TImageView::Picture() const {
    return FImage != nullptr ? FImage->Picture.get() : nullptr;
}

QString TImageView::Message() const {
    if (FImage == nullptr || FImage->Ok()) return {};
    return FImage->Error.empty() ? QString(SViewerNoImage)
                                 : QString::fromUtf8(FImage->Error.c_str());
}

void TImageView::SetImage(TViewImage* image) {
    FImage = image;
    DropScaledCopy();
    FDrag = dgNone;
    if (FFit)
        FZoom = FitZoom(Picture() ? Picture()->Width() : 0, Picture() ? Picture()->Height() : 0,
                        viewport()->width(), viewport()->height());
    FZoom = std::clamp(FZoom, MinZoom(), MaxZoom());
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
    if (zoom != FZoom) DropScaledCopy();
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
    if (zoom != FZoom) DropScaledCopy();
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
    DropScaledCopy();
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
    DropScaledCopy();
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

void TImageView::DropScaledCopy() {
    FScaled.reset();
    FScaledZoom = 0;
}

const TDibSection* TImageView::ScaledCopy() {
    const TDibPicture* picture = Picture();
    if (picture == nullptr || FZoom >= 1) return nullptr;
    if (FScaled && FScaledZoom == FZoom) return FScaled.get();
    DropScaledCopy();
    const TZoomSize size = ZoomedSize();
    if (DibBytesPerLine(size.Width, 24) * static_cast<std::uint64_t>(size.Height) >
        kMaxScaledCopyBytes)
        return nullptr;
    FScaled = MakeTrueColorSection(size.Width, size.Height);
    if (!FScaled) return nullptr;
    DrawReduced(*picture, *FScaled);
    FScaledZoom = FZoom;
    return FScaled.get();
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
    if (const TDibSection* scaled = ScaledCopy()) return ImageOver(*scaled).copy(part);
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
    if (const TDibSection* scaled = ScaledCopy()) {
        painter.drawImage(shown.topLeft(), ImageOver(*scaled), area);
    } else {
        painter.drawImage(shown.topLeft(), RenderDirect(area));
    }
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
