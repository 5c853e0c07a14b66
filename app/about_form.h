// SPDX-License-Identifier: MIT
// The About box: the program's title, file version, copyright and logo, and an OK button.
#pragma once

#include <QDialog>

#include <memory>

class QFrame;
class QLabel;
class QPushButton;

namespace pix {

class TIvTranslator;
class TVersionInfoResourceHack;

inline constexpr const char* SAboutCaption = "About";

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* owner = nullptr);
    ~TAboutForm() override;

    QFrame* Panel() const { return FPanel; }
    QLabel* TitleLabel() const { return FTitle; }
    QLabel* VersionLabel() const { return FVersion; }
    QLabel* CopyrightLabel() const { return FCopyright; }
    QWidget* Logo() const { return FLogo; }
    QPushButton* OKButton() const { return FOKButton; }

protected:
    // Reads the program's version block and shows its file version.
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<TVersionInfoResourceHack> FVersionInfo;
    QFrame* FPanel = nullptr;
    QLabel* FTitle = nullptr;
    QLabel* FVersion = nullptr;
    QLabel* FCopyright = nullptr;
    QWidget* FLogo = nullptr;
    QPushButton* FOKButton = nullptr;
    TIvTranslator* FTranslator = nullptr;
};

}  // namespace pix
