// SPDX-License-Identifier: MIT
// The display window of a 16-bit image set by its numbers beside the histogram of its
// samples.
#pragma once

#include "viewer/image_view.h"

#include <QDialog>

#include <cstdint>
#include <vector>

class QSpinBox;

namespace pix {

class TImgData16;

// The counts of `samples` in `bins` equal parts of first..last (inclusive); samples
// outside that range are not counted. At least one bin, and a range of at least one value.
std::vector<std::uint32_t> SampleHistogram(const TImgData16& samples, int bins, int first,
                                           int last);

// The histogram of the samples between the image's smallest and largest, with the display
// window marked on it. Clicking or dragging on the histogram moves the nearer edge of the
// window; the edges can also be typed. The view follows at once; Cancel puts back the
// window the dialog started with, Reset the image's whole range.
class TWindowDialog : public QDialog {
    Q_OBJECT

public:
    TWindowDialog(TImageView& view, QWidget* parent = nullptr);

    QSpinBox* LowBox() const { return FLow; }
    QSpinBox* HighBox() const { return FHigh; }
    // Where sample value `value` lies on the histogram's width, and back.
    int ValueToX(int value) const;
    int XToValue(int x) const;

    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Apply(TWindow window);
    void PaintHistogram();

    TImageView& FView;
    const TWindow FStart;
    int FFirst, FLast;  // the image's smallest and largest sample
    std::vector<std::uint32_t> FCounts;
    QWidget* FHistogram;
    QSpinBox* FLow;
    QSpinBox* FHigh;
    bool FDraggingLow = false;
};

}  // namespace pix
