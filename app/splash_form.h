// SPDX-License-Identifier: MIT
// The splash window shown while the main window is built, and the rule for how long it stays.
#pragma once

#include "platform/tick_count.h"

#include <QPoint>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QLabel;

namespace pix {

class TVersionInfoResourceHack;

inline constexpr const char* SApplicationTitle = "Pixorama 1.0";
inline constexpr const char* SSplashTitle = "Kelvo Pixorama";
inline constexpr const char* SVersionPlaceholder = "Version x.x";
inline constexpr const char* SSplashCopyright = "Copyright \u00a9 1998-2026 Corvane";

// The splash stays at least this long from its creation.
inline constexpr std::uint32_t kSplashMinimumMs = 1500;

// Milliseconds still to wait before the splash may go: elapsed = now - created in unsigned
// 32-bit arithmetic, so a tick count that wrapped in between still gives the right time.
std::uint32_t SplashRemainingMs(std::uint32_t created, std::uint32_t now);

// The title, the version and copyright labels and the logo that the splash and the About
// box show on their silver panels, each placed at its top-left corner.
struct TTitleBlock {
    QLabel* Title = nullptr;
    QLabel* Version = nullptr;
    QLabel* Copyright = nullptr;
    QWidget* Logo = nullptr;
};
TTitleBlock CreateTitleBlock(QWidget* panel, QPoint title, QPoint version, QPoint copyright,
                             QPoint logo);

// The borderless splash window: title, version, copyright and a logo on a silver panel.
class TSplashForm : public QWidget {
public:
    using TTickSource = std::function<std::uint32_t()>;
    using TSleeper = std::function<void(std::uint32_t)>;

    explicit TSplashForm(QWidget* parent = nullptr, TTickSource tick = GetTickCount,
                         TSleeper sleep = Sleep);
    ~TSplashForm() override;

    std::uint32_t CreatedTick() const { return FCreated; }
    // Shows the window and paints it before returning, so that it is on screen while the
    // main window is being built without an event loop running.
    void ShowAtOnce();
    // Sleeps for what is left of the splash's minimum time.
    void WaitMinimumTime();

    QLabel* TitleLabel() const { return FTitle; }
    QLabel* VersionLabel() const { return FVersion; }
    QLabel* CopyrightLabel() const { return FCopyright; }
    QWidget* Logo() const { return FLogo; }

protected:
    // Reads the program's version block and shows its file version.
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<TVersionInfoResourceHack> FVersionInfo;
    TTickSource FTick;
    TSleeper FSleep;
    std::uint32_t FCreated = 0;
    QLabel* FTitle = nullptr;
    QLabel* FVersion = nullptr;
    QLabel* FCopyright = nullptr;
    QWidget* FLogo = nullptr;
};

// The main window's first showing: wait out the splash's minimum time, then free it.
void RemoveSplash(std::unique_ptr<TSplashForm>& splash);

}  // namespace pix
