// SPDX-License-Identifier: MIT
#include "viewer/window_dialog.h"

#include "i18n/translator.h"
#include "imaging/img_data16.h"
#include "platform/error.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace pix {
namespace {

constexpr int kBins = 256;
constexpr int kHistogramWidth = kBins * 2;
constexpr int kHistogramHeight = 160;
const QColor kBars(90, 90, 90);
const QColor kWindowShade(70, 130, 200, 60);
const QColor kEdge(30, 90, 200);

}  // namespace

std::vector<std::uint32_t> SampleHistogram(const TImgData16& samples, int bins, int first,
                                           int last) {
    bins = std::max(1, bins);
    last = std::max(first, last);
    std::vector<std::uint32_t> counts(static_cast<std::size_t>(bins), 0);
    // The bin of every possible value, once, keeps the pass over the samples to a lookup.
    std::vector<std::int32_t> binOf(65536, -1);
    const std::int64_t span = std::int64_t{last} - first + 1;
    for (int v = std::max(0, first); v <= std::min(65535, last); ++v)
        binOf[static_cast<std::size_t>(v)] =
            static_cast<std::int32_t>((std::int64_t{v} - first) * bins / span);
    const std::uint16_t* words = samples.Words();
    for (std::int64_t i = 0, n = samples.SampleCount(); i < n; ++i) {
        const std::int32_t bin = binOf[words[i]];
        if (bin >= 0) ++counts[static_cast<std::size_t>(bin)];
    }
    return counts;
}

TWindowDialog::TWindowDialog(TImageView& view, QWidget* parent)
    : QDialog(parent), FView(view), FStart(view.Window()) {
    setWindowTitle("Display window");
    const TViewImage* image = view.Image();
    FFirst = image != nullptr ? image->DataMin : 0;
    FLast = image != nullptr ? std::max<int>(image->DataMax, FFirst + 1) : 65535;
    if (view.HasWindow())
        FCounts = SampleHistogram(*image->Picture->ImgData16(), kBins, FFirst, FLast);

    FHistogram = new QWidget(this);
    FHistogram->setObjectName("Histogram");
    FHistogram->setFixedSize(kHistogramWidth, kHistogramHeight);
    FHistogram->setCursor(Qt::SizeHorCursor);
    FHistogram->installEventFilter(this);

    FLow = new QSpinBox(this);
    FHigh = new QSpinBox(this);
    // Without keyboard tracking a box reports a typed value when it is finished, and
    // each step of its arrows at once.
    for (QSpinBox* box : {FLow, FHigh}) {
        box->setRange(0, 65535);
        box->setAccelerated(true);
        box->setKeyboardTracking(false);
    }
    FLow->setValue(FStart.Low);
    FHigh->setValue(FStart.High);
    const auto typed = [this] { Apply(TWindow{FLow->value(), FHigh->value()}); };
    connect(FLow, &QSpinBox::valueChanged, this, typed);
    connect(FHigh, &QSpinBox::valueChanged, this, typed);

    auto* form = new QFormLayout;
    form->addRow("&Black at:", FLow);
    form->addRow("&White at:", FHigh);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* reset = buttons->addButton("&Reset", QDialogButtonBox::ResetRole);
    connect(buttons, &QDialogButtonBox::accepted, this, [this, typed] {
        typed();  // a value still being typed counts
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &TWindowDialog::reject);
    connect(reset, &QPushButton::clicked, this, [this] { Apply(TWindow{FFirst, FLast}); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(FHistogram);
    layout->addLayout(form);
    layout->addWidget(buttons);

    // The captions in the user's language, with the viewer's dictionary.
    TranslateForm(this, {{"", "Hint"}, {"", "Caption"}});
}

int TWindowDialog::ValueToX(int value) const {
    const double part = (value - FFirst) / static_cast<double>(FLast - FFirst);
    return static_cast<int>(std::lround(std::clamp(part, 0.0, 1.0) * (kHistogramWidth - 1)));
}

int TWindowDialog::XToValue(int x) const {
    const double part = std::clamp(x / static_cast<double>(kHistogramWidth - 1), 0.0, 1.0);
    return FFirst + static_cast<int>(std::lround(part * (FLast - FFirst)));
}

void TWindowDialog::Apply(TWindow window) {
    FView.SetWindow(window);
    const TWindow now = FView.Window();
    const QSignalBlocker lowBlock(FLow), highBlock(FHigh);
    FLow->setValue(now.Low);
    FHigh->setValue(now.High);
    FHistogram->update();
}

void TWindowDialog::reject() {
    if (FView.HasWindow()) FView.SetWindow(FStart);
    QDialog::reject();
}

bool TWindowDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched != FHistogram) return QDialog::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::Paint:
            PaintHistogram();
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (!(mouse->buttons() & Qt::LeftButton)) return false;
            const int value = XToValue(mouse->position().toPoint().x());
            const TWindow now = FView.Window();
            // A press takes the nearer edge; a drag keeps moving it.
            if (event->type() == QEvent::MouseButtonPress)
                FDraggingLow = std::abs(value - now.Low) <= std::abs(value - now.High);
            Apply(FDraggingLow ? TWindow{std::min(value, now.High - 1), now.High}
                               : TWindow{now.Low, std::max(value, now.Low + 1)});
            return true;
        }
        default:
            return QDialog::eventFilter(watched, event);
    }
}

void TWindowDialog::PaintHistogram() {
    QPainter painter(FHistogram);
    painter.fillRect(FHistogram->rect(), palette().base());
    const TWindow window = FView.Window();
    const int low = ValueToX(window.Low), high = ValueToX(window.High);
    painter.fillRect(QRect(QPoint(low, 0), QPoint(high, kHistogramHeight - 1)), kWindowShade);
    // Square roots of the counts, so that a few strong peaks do not flatten the rest.
    const std::uint32_t most =
        FCounts.empty() ? 0 : *std::max_element(FCounts.begin(), FCounts.end());
    if (most > 0) {
        const double scale = (kHistogramHeight - 4) / std::sqrt(static_cast<double>(most));
        const int barWidth = kHistogramWidth / static_cast<int>(FCounts.size());
        for (std::size_t i = 0; i < FCounts.size(); ++i) {
            const int h = static_cast<int>(std::lround(std::sqrt(double(FCounts[i])) * scale));
            painter.fillRect(static_cast<int>(i) * barWidth, kHistogramHeight - h, barWidth, h,
                             kBars);
        }
    }
    painter.setPen(QPen(kEdge, 2));
    painter.drawLine(low, 0, low, kHistogramHeight);
    painter.drawLine(high, 0, high, kHistogramHeight);
}

}  // namespace pix
