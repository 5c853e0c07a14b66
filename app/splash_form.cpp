// SPDX-License-Identifier: MIT
#include "app/splash_form.h"

#include "app/version_info_resource.h"
#include "platform/error.h"
#include "platform/res_strings.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>

namespace pix {
namespace {

const QColor kNavy(0x00, 0x00, 0x80);
const QColor kSilver(0xC0, 0xC0, 0xC0);

// The logo: a dark field crossed by scan lines, with a bright beam sweeping along one,
// drawn rather than stored so that it needs no resource.
class TSplashLogo : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient field(0, 0, width(), 0);
        field.setColorAt(0, kNavy);
        field.setColorAt(1, QColor(0x40, 0x60, 0xA0));
        p.fillRect(rect(), field);
        p.setPen(QColor(0x60, 0x80, 0xC0, 90));
        for (int y = 1; y < height(); y += 3) p.drawLine(0, y, width(), y);
        const int beamY = height() / 2;
        QLinearGradient beam(0, 0, width(), 0);
        beam.setColorAt(0, QColor(255, 255, 255, 0));
        beam.setColorAt(0.8, QColor(255, 255, 255, 220));
        beam.setColorAt(1, QColor(255, 255, 255, 0));
        p.fillRect(QRect(0, beamY - 1, width(), 3), beam);
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(width() * 0.8, beamY + 0.5), 4, 4);
    }
};

QLabel* MakeLabel(QWidget* parent, const QString& text, const QRect& place, const QFont& font) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    if (place.width() > 0) {
        label->setGeometry(place);
        label->setAlignment(Qt::AlignCenter);
    } else {
        label->move(place.topLeft());
        label->adjustSize();
    }
    return label;
}

}  // namespace

std::uint32_t SplashRemainingMs(std::uint32_t created, std::uint32_t now) {
    const std::uint32_t elapsed = now - created;
    return elapsed < kSplashMinimumMs ? kSplashMinimumMs - elapsed : 0;
}

TTitleBlock CreateTitleBlock(QWidget* panel, QPoint title, QPoint version, QPoint copyright,
                             QPoint logo) {
    TTitleBlock block;
    QFont titleFont(QStringLiteral("Times New Roman"));
    titleFont.setPixelSize(24);
    titleFont.setBold(true);
    block.Title =
        MakeLabel(panel, QString::fromUtf8(SSplashTitle), QRect(title, QSize(289, 26)), titleFont);
    QPalette navy = block.Title->palette();
    navy.setColor(QPalette::WindowText, kNavy);
    block.Title->setPalette(navy);

    QFont small(QStringLiteral("MS Sans Serif"));
    small.setPixelSize(11);
    QFont smallBold = small;
    smallBold.setBold(true);
    block.Version = MakeLabel(panel, QString::fromUtf8(SVersionPlaceholder),
                              QRect(version, QSize(182, 13)), smallBold);
    block.Copyright =
        MakeLabel(panel, QString::fromUtf8(SSplashCopyright), QRect(copyright, QSize()), small);

    block.Logo = new TSplashLogo(panel);
    block.Logo->setGeometry(QRect(logo, QSize(250, 33)));
    return block;
}

TSplashForm::TSplashForm(QWidget* parent, TTickSource tick, TSleeper sleep)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint),
      FVersionInfo(std::make_unique<TVersionInfoResourceHack>()),
      FTick(std::move(tick)),
      FSleep(std::move(sleep)) {
    FCreated = FTick();
    setFixedSize(312, 143);

    auto* panel = new QFrame(this);
    panel->setGeometry(rect());
    panel->setFrameStyle(QFrame::Box | QFrame::Plain);
    panel->setLineWidth(1);
    panel->setAutoFillBackground(true);
    QPalette colours = panel->palette();
    colours.setColor(QPalette::Window, kSilver);
    colours.setColor(QPalette::WindowText, Qt::black);
    panel->setPalette(colours);

    const TTitleBlock block =
        CreateTitleBlock(panel, QPoint(10, 13), QPoint(64, 45), QPoint(99, 78), QPoint(29, 92));
    FTitle = block.Title;
    FVersion = block.Version;
    FCopyright = block.Copyright;
    FLogo = block.Logo;

    // Centred on the screen the window will appear on.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

TSplashForm::~TSplashForm() = default;

void TSplashForm::ShowAtOnce() {
    show();
    raise();
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TSplashForm::WaitMinimumTime() {
    const std::uint32_t remaining = SplashRemainingMs(FCreated, FTick());
    if (remaining > 0) FSleep(remaining);
}

void TSplashForm::showEvent(QShowEvent* event) {
    FVersionInfo->Refresh();
    FVersion->setText(
        QString::fromUtf8(FmtRes(SVersionFormat, FVersionInfo->FileVersionText().c_str()).c_str()));
    QWidget::showEvent(event);
}

void RemoveSplash(std::unique_ptr<TSplashForm>& splash) {
    if (!splash) return;
    splash->WaitMinimumTime();
    splash.reset();
}

}  // namespace pix
