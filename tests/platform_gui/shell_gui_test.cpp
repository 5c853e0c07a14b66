// SPDX-License-Identifier: MIT
#include "gui_support.h"

#include "platform/gui/shell_context_menu.h"
#include "platform/gui/shell_icons.h"

#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

namespace pix {
namespace {

TEST(ShellIconTest, EveryKindHasAnIconWithAndWithoutTheLinkOverlay) {
    test::EnsureGuiApplication();
    for (int kind = ikFolder; kind <= ikDriveNetwork; ++kind) {
        for (const TShellOverlay overlay : {ovNone, ovShared, ovLink}) {
            const QIcon icon = ShellIcon(static_cast<TShellIconKind>(kind), overlay);
            EXPECT_FALSE(icon.isNull()) << kind << " " << overlay;
            EXPECT_FALSE(icon.pixmap(16).isNull()) << kind << " " << overlay;
        }
        // The overlay draws over the icon: some pixel of the bottom-left quarter differs.
        const QImage plain = ShellIcon(static_cast<TShellIconKind>(kind)).pixmap(16).toImage();
        const QImage linked =
            ShellIcon(static_cast<TShellIconKind>(kind), ovLink).pixmap(16).toImage();
        EXPECT_NE(plain.copy(0, 8, 8, 8).convertToFormat(QImage::Format_ARGB32),
                  linked.copy(0, 8, 8, 8).convertToFormat(QImage::Format_ARGB32))
            << kind;
    }
}

// Runs `step` on the main thread every few milliseconds until it returns true; a watchdog
// closes every popup and dialog after five seconds so a failure never hangs.
void Poll(const std::function<bool()>& step) {
    auto* timer = new QTimer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    QObject::connect(timer, &QTimer::timeout, [timer, step, deadline] {
        if (step()) {
            timer->deleteLater();
        } else if (std::chrono::steady_clock::now() > deadline) {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (qobject_cast<QMenu*>(widget) || qobject_cast<QDialog*>(widget)) widget->close();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

template <typename T>
T* FindTopLevel(const char* name) {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && widget->objectName() == QLatin1String(name))
            if (auto* found = qobject_cast<T*>(widget)) return found;
    return nullptr;
}

TEST(ShellContextMenuTest, PropertiesShowTheFolderContents) {
    test::EnsureGuiApplication();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* name : {"a", "b", "c", ".hidden"})
        QFile(dir.filePath(name)).open(QIODevice::WriteOnly);

    QStringList actions;
    QString contents, title;
    Poll([&] {
        QMenu* menu = FindTopLevel<QMenu>("ShellContextMenu");
        if (menu == nullptr) return false;
        for (QAction* action : menu->actions())
            if (!action->isSeparator()) actions << action->text();
        Poll([&] {
            auto* dialog = FindTopLevel<QDialog>("ShellProperties");
            if (dialog == nullptr) return false;
            if (auto* label = dialog->findChild<QLabel*>(QStringLiteral("contents")))
                contents = label->text();
            title = dialog->windowTitle();
            dialog->reject();
            return true;
        });
        menu->setActiveAction(menu->actions().last());
        QTest::keyClick(menu, Qt::Key_Return);
        return true;
    });
    ShowShellContextMenu(nullptr, dir.path().toStdString(), QPoint(10, 10));
    EXPECT_EQ(actions, (QStringList{"Open in File Manager", "Copy Location", "Properties"}));
    EXPECT_EQ(contents, QStringLiteral("3 items"));
    EXPECT_EQ(title, QDir(dir.path()).dirName() + " Properties");
}

}  // namespace
}  // namespace pix
