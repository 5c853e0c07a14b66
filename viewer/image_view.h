// SPDX-License-Identifier: MIT
// The viewer's image area: one picture at a zoom, panned with the scroll bars or by
// dragging, and for 16-bit images a display window changed by dragging.
#pragma once

#include "viewer/view_image.h"
#include "viewer/zoom.h"

#include <QAbstractScrollArea>
#include <QImage>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <vector>

namespace pix {

class TDibSection;

// What the status bar tells of the pixel (x, y) of a picture: the 16-bit sample, else the
// palette index and its colour, else the colour.
QString PixelText(const TDibPicture& picture, int x, int y);

// The display window a right-button drag gives: the start window's centre moves by dx and
// its width by dy, each in steps of (dataMax - dataMin) / kWindowDragPixels sample values
// per screen pixel (at least 1/kWindowDragPixels): dragging right darkens, dragging down
// lowers the contrast. The result lies within 0..65535 and is at least 1 wide.
inline constexpr int kWindowDragPixels = 256;
struct TWindow {
    int Low, High;
};
TWindow DragWindow(TWindow start, int dx, int dy, int dataMin, int dataMax);

// Makes the reduced copy that a view of boxWidth × boxHeight fitting `image` draws from,
// with the same pixels; nothing when the fit does not reduce or the copy would be too
// large. For a worker that reads an image ahead of showing it.
void PrepareFitCopy(TViewImage& image, int boxWidth, int boxHeight);

// Shows a TViewImage it does not own. A reduced picture is drawn from a copy at the current
// zoom, made once per zoom level by area averaging (as the thumbnails are) and kept for
// going back to that level; while the zoom moves, only the visible part is averaged. An
// enlarged picture is drawn pixel for pixel, each image pixel a square, and only where it
// shows.
class TImageView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit TImageView(QWidget* parent = nullptr);
    ~TImageView() override;

    // Shows `image` (null for none); a failed load shows its error text. The image must
    // stay until it is replaced here. Keeps the zoom mode: fit stays fit; a fixed zoom
    // stays and the view goes to the picture's top left.
    void SetImage(TViewImage* image);
    TViewImage* Image() const { return FImage; }
    // The text shown instead of a picture: the load's error, or empty.
    QString Message() const;

    bool FitMode() const { return FFit; }
    double Zoom() const { return FZoom; }
    void FitToWindow();
    // Zooms so that the picture point under `anchor` (viewport coordinates) stays there.
    // The zoom is held between the smaller of kMinZoom and the fit, and kMaxZoom.
    void SetZoom(double zoom, QPointF anchor);
    void SetZoom(double zoom);  // around the viewport's centre
    void StepZoom(int direction);
    void StepZoom(int direction, QPointF anchor);

    // 16-bit images: the samples from Low up show black, up to High white.
    bool HasWindow() const;
    TWindow Window() const;
    // Clamped into 0..65535 with High above Low; the picture's pixels are mapped again.
    void SetWindow(TWindow window);
    // Back to the smallest and largest sample of the image.
    void ResetWindow();

    // The size of the whole picture at the zoom, and where its top left lies in the
    // viewport (centred while it is smaller than the viewport).
    TZoomSize ZoomedSize() const;
    QPoint ImageOrigin() const;
    // The picture's pixel under a viewport point, or (-1, -1) off the picture.
    QPoint PixelAt(QPointF viewportPos) const;
    // The zoomed picture's pixels in `area` (coordinates within the whole zoomed picture)
    // as they are painted, 24-bit colour; an area off the picture gives a null image.
    QImage Render(const QRect& area);

signals:
    // The pixel under the pointer, (-1, -1) when it is off the picture.
    void PointerMoved(QPoint pixel);
    void ZoomChanged();
    void WindowChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    const TDibPicture* Picture() const;
    double MaxZoom() const;
    double MinZoom() const;
    void UpdateScrollBars();
    void DropScaledCopies();
    // The copy at the current zoom for a reduction: a kept one, else with `make` a new one;
    // null when the zoom does not reduce, or the copy would be too large (the visible part
    // is then averaged for each paint, to the same pixels).
    const TDibSection* ScaledCopy(bool make);
    // Whether a paint without a copy makes one at once: when the whole zoomed picture is
    // not much more than what shows; otherwise the paint draws what shows and the copy is
    // made once the zoom rests.
    bool MakesCopyAtOnce() const;
    // Draws the zoomed picture's `area` straight from the picture.
    QImage RenderDirect(const QRect& area) const;

    TViewImage* FImage = nullptr;
    bool FFit = true;
    double FZoom = 1;
    // Reduced copies by zoom, the latest used first, within a budget of bytes.
    struct TScaledCopy {
        double Zoom;
        std::unique_ptr<TDibSection> Section;
    };
    std::vector<TScaledCopy> FCopies;
    QTimer* FCopyTimer = nullptr;
    // Wheel turns add up until a whole notch (120) is reached.
    int FWheelAngle = 0;
    enum TDrag { dgNone, dgPan, dgWindow } FDrag = dgNone;
    QPoint FDragStart;
    QPoint FScrollStart;
    TWindow FWindowStart{0, 0};
};

}  // namespace pix
