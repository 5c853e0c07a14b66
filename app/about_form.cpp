// SPDX-License-Identifier: MIT
#include "app/about_form.h"

#include "app/splash_form.h"
#include "app/version_info_resource.h"
#include "i18n/translator.h"
#include "platform/error.h"
#include "platform/res_strings.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace pix {

TAboutForm::TAboutForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      FVersionInfo(std::make_unique<TVersionInfoResourceHack>()) {
    setObjectName(QStringLiteral("TAboutForm"));
    setWindowTitle(QString::fromUtf8(SAboutCaption));
    setFixedSize(340, 186);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);
    setAutoFillBackground(true);

    // A lowered outer bevel around a raised inner one.
    FPanel = new QFrame(this);
    FPanel->setObjectName(QStringLiteral("Panel1"));
    FPanel->setGeometry(6, 8, 327, 139);
    FPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    FPanel->setLineWidth(1);
    auto* inner = new QFrame(FPanel);
    inner->setGeometry(FPanel->rect().adjusted(1, 1, -1, -1));
    inner->setFrameStyle(QFrame::Panel | QFrame::Raised);
    inner->setLineWidth(1);

    const TTitleBlock block =
        CreateTitleBlock(FPanel, QPoint(19, 13), QPoint(73, 45), QPoint(107, 82), QPoint(38, 96));
    FTitle = block.Title;
    FVersion = block.Version;
    FCopyright = block.Copyright;
    FLogo = block.Logo;

    FOKButton = new QPushButton(QStringLiteral("OK"), this);
    FOKButton->setObjectName(QStringLiteral("OKButton"));
    FOKButton->setGeometry(133, 155, 75, 25);
    FOKButton->setDefault(true);
    connect(FOKButton, &QPushButton::clicked, this, &QDialog::accept);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());

    // Captions and hints in the user's language, with the main window's dictionary.
    FTranslator = TranslateForm(this, {{"", "Hint"}, {"", "Caption"}});
}

TAboutForm::~TAboutForm() = default;

void TAboutForm::showEvent(QShowEvent* event) {
    FVersionInfo->Refresh();
    FVersion->setText(
        QString::fromUtf8(FmtRes(SVersionFormat, FVersionInfo->FileVersionText().c_str()).c_str()));
    QDialog::showEvent(event);
}

}  // namespace pix
