// SPDX-License-Identifier: MIT
#include "platform/gui/shell_icons.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStandardPaths>
#include <QStyle>

#include <map>
#include <utility>

namespace pix {

namespace {

struct TKindIcon {
    const char* Name;
    const char* Alternative;  // another theme name for the same thing, or null
    QStyle::StandardPixmap Standard;
};

// In the order of TShellIconKind.
constexpr TKindIcon kKindIcons[] = {
    {"folder", nullptr, QStyle::SP_DirIcon},
    {"folder-open", nullptr, QStyle::SP_DirOpenIcon},
    {"text-x-generic", "application-octet-stream", QStyle::SP_FileIcon},
    {"user-desktop", nullptr, QStyle::SP_DesktopIcon},
    {"user-home", nullptr, QStyle::SP_DirHomeIcon},
    {"computer", nullptr, QStyle::SP_ComputerIcon},
    {"drive-harddisk", nullptr, QStyle::SP_DriveHDIcon},
    {"drive-removable-media", nullptr, QStyle::SP_DriveFDIcon},
    {"drive-optical", nullptr, QStyle::SP_DriveCDIcon},
    {"folder-remote", "network-server", QStyle::SP_DriveNetIcon},
};

// The sizes the tree and its image list draw at.
constexpr int kOverlaySizes[] = {16, 22, 24, 32};

// Without a desktop session (or on the offscreen platform) Qt knows no icon theme and no
// folder to look for one in; then the installed themes are searched, with a full one first.
void EnsureIconTheme() {
    static bool done = false;
    if (done) return;
    done = true;
    const QString current = QIcon::themeName();
    if (!current.isEmpty() && current != QLatin1String("hicolor")) return;
    QStringList paths = QIcon::themeSearchPaths();
    const QStringList more =
        QStringList{QDir::homePath() + QLatin1String("/.icons")} +
        QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                  QStandardPaths::LocateDirectory);
    for (const QString& path : more)
        if (!paths.contains(path)) paths << path;
    QIcon::setThemeSearchPaths(paths);
    for (const char* theme : {"Adwaita", "breeze", "gnome", "hicolor"}) {
        for (const QString& path : paths) {
            if (QFileInfo::exists(path + QLatin1Char('/') + QLatin1String(theme) +
                                  QLatin1String("/index.theme"))) {
                QIcon::setThemeName(QLatin1String(theme));
                return;
            }
        }
    }
}

// A theme icon only counts when it can be drawn (a theme of SVG files needs a plugin).
QIcon ThemeIcon(const char* name) {
    if (name == nullptr) return {};
    QIcon icon = QIcon::fromTheme(QLatin1String(name));
    return icon.isNull() || icon.pixmap(16).isNull() ? QIcon() : icon;
}

// The last resort when neither a theme nor a style is there: a plain page.
QIcon PaintedIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QColor(96, 96, 96));
    painter.setBrush(Qt::white);
    painter.drawRect(3, 1, 10, 13);
    painter.end();
    return QIcon(pixmap);
}

QIcon PlainIcon(TShellIconKind kind) {
    const std::size_t index = static_cast<std::size_t>(kind) < std::size(kKindIcons)
                                  ? static_cast<std::size_t>(kind)
                                  : static_cast<std::size_t>(ikFile);
    const TKindIcon& entry = kKindIcons[index];
    for (const char* name : {entry.Name, entry.Alternative})
        if (QIcon icon = ThemeIcon(name); !icon.isNull()) return icon;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        if (QIcon icon = QApplication::style()->standardIcon(entry.Standard); !icon.isNull())
            return icon;
    }
    return PaintedIcon();
}

// The link emblem of `size` pixels: the theme's, else a small arrow in a box.
QPixmap LinkEmblem(int size) {
    if (const QIcon emblem = ThemeIcon("emblem-symbolic-link"); !emblem.isNull())
        return emblem.pixmap(size, size);
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    painter.setPen(QPen(QColor(64, 64, 64), 1));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(0.5, 0.5, s - 1, s - 1));
    // A curved shaft from the bottom left that ends in a head at the top right.
    QPainterPath shaft;
    shaft.moveTo(s * 0.25, s * 0.85);
    shaft.quadTo(s * 0.25, s * 0.35, s * 0.65, s * 0.35);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::black, std::max(1.0, s / 8)));
    painter.drawPath(shaft);
    QPainterPath head;
    head.moveTo(s * 0.9, s * 0.35);
    head.lineTo(s * 0.6, s * 0.1);
    head.lineTo(s * 0.6, s * 0.6);
    head.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawPath(head);
    return pixmap;
}

QIcon WithLinkOverlay(const QIcon& plain) {
    QIcon icon;
    for (const int size : kOverlaySizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        const QPixmap base = plain.pixmap(size, size);
        painter.drawPixmap((size - base.width()) / 2, (size - base.height()) / 2, base);
        const int quarter = size / 2;
        painter.drawPixmap(QRect(0, size - quarter, quarter, quarter), LinkEmblem(quarter));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

QIcon ShellIcon(TShellIconKind kind, TShellOverlay overlay) {
    static std::map<std::pair<int, int>, QIcon> cache;
    // Nothing is shared on this system, so the shared overlay draws nothing.
    if (overlay != ovLink) overlay = ovNone;
    const auto key = std::make_pair(static_cast<int>(kind), static_cast<int>(overlay));
    if (const auto found = cache.find(key); found != cache.end()) return found->second;
    EnsureIconTheme();
    const QIcon plain = PlainIcon(kind);
    QIcon icon = overlay == ovLink ? WithLinkOverlay(plain) : plain;
    cache.emplace(key, icon);
    return icon;
}

}  // namespace pix
