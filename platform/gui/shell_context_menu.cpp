// SPDX-License-Identifier: MIT
#include "platform/gui/shell_context_menu.h"

#include "platform/res_strings.h"

#include <QClipboard>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPointer>
#include <QUrl>
#include <QVBoxLayout>

#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace pix {

namespace {

// A text of the message table as a QString.
QString Res(const TResString& string) { return QString::fromUtf8(LoadResString(string).c_str()); }

QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

// "drwxr-xr-x", as a file listing shows the mode.
QString ModeText(mode_t mode) {
    QString text = S_ISDIR(mode) ? QStringLiteral("d") : S_ISLNK(mode) ? QStringLiteral("l") : "-";
    const struct {
        mode_t Read, Write, Execute, Special;
        char SpecialOn, SpecialOnly;
    } groups[] = {{S_IRUSR, S_IWUSR, S_IXUSR, S_ISUID, 's', 'S'},
                  {S_IRGRP, S_IWGRP, S_IXGRP, S_ISGID, 's', 'S'},
                  {S_IROTH, S_IWOTH, S_IXOTH, S_ISVTX, 't', 'T'}};
    for (const auto& group : groups) {
        text += (mode & group.Read) != 0 ? 'r' : '-';
        text += (mode & group.Write) != 0 ? 'w' : '-';
        const bool execute = (mode & group.Execute) != 0;
        if ((mode & group.Special) != 0)
            text += execute ? group.SpecialOn : group.SpecialOnly;
        else
            text += execute ? 'x' : '-';
    }
    return text;
}

struct TFolderContents {
    long long Count = 0;
    long long FileBytes = 0;
};

// The entries of a folder, without its hidden ones and without descending.
std::optional<TFolderContents> CountContents(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return std::nullopt;
    }
    TFolderContents contents;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        ++contents.Count;
        struct stat st {};
        if (entry->d_type != DT_DIR && fstatat(dirfd(dir), entry->d_name, &st, 0) == 0 &&
            S_ISREG(st.st_mode))
            contents.FileBytes += st.st_size;
    }
    closedir(dir);
    return contents;
}

QLabel* AddRow(QFormLayout* form, const TResString& label, const QString& value, const char* name) {
    auto* text = new QLabel(value);
    text->setObjectName(QLatin1String(name));
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setWordWrap(true);
    form->addRow(Res(label), text);
    return text;
}

void ShowProperties(QWidget* owner, const std::string& path) {
    const QLocale locale;
    const std::size_t slash = path.rfind('/');
    const std::string name =
        path == "/" ? path : path.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::string location = slash == std::string::npos || path == "/" ? std::string()
                                 : slash == 0                              ? std::string("/")
                                                                           : path.substr(0, slash);

    QPointer<QDialog> dialog = new QDialog(owner);
    dialog->setObjectName(QStringLiteral("ShellProperties"));
    dialog->setWindowTitle(Res(SPropertiesTitle).arg(FromPath(name)));
    auto* layout = new QVBoxLayout(dialog);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    AddRow(form, SNameLabel, FromPath(name), "name");
    AddRow(form, SLocationLabel, FromPath(location), "location");

    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        const bool folder = S_ISDIR(st.st_mode);
        AddRow(form, STypeLabel, Res(folder ? SFolderType : SFileType), "type");
        if (folder) {
            if (const auto contents = CountContents(path)) {
                const QString count =
                    contents->Count == 1 ? Res(SOneItem) : Res(SItems).arg(contents->Count);
                AddRow(form, SContentsLabel, count, "contents");
                AddRow(form, SSizeLabel,
                       Res(SFilesSize).arg(locale.formattedDataSize(contents->FileBytes)), "size");
            } else {
                AddRow(form, SContentsLabel, Res(SCannotRead), "contents");
            }
        } else {
            AddRow(form, SSizeLabel, locale.formattedDataSize(st.st_size), "size");
        }
        const QDateTime modified = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
        AddRow(form, SModifiedLabel, locale.toString(modified, QLocale::ShortFormat), "modified");
        AddRow(form, SPermissionsLabel, ModeText(st.st_mode), "permissions");
    } else {
        AddRow(form, STypeLabel, Res(SCannotRead), "type");
    }
    struct statvfs volume {};
    if (statvfs(path.c_str(), &volume) == 0) {
        const auto block = static_cast<qint64>(volume.f_frsize);
        AddRow(form, SFreeSpaceLabel,
               locale.formattedDataSize(static_cast<qint64>(volume.f_bavail) * block), "free");
        AddRow(form, SCapacityLabel,
               locale.formattedDataSize(static_cast<qint64>(volume.f_blocks) * block), "capacity");
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog->exec();
    // The owner may have gone while the dialog ran, and taken the dialog with it.
    delete dialog;
}

}  // namespace

void ShowShellContextMenu(QWidget* owner, const std::string& path, const QPoint& at) {
    QPointer<QMenu> menu = new QMenu(owner);
    menu->setObjectName(QStringLiteral("ShellContextMenu"));
    QAction* open = nullptr;
    QAction* copy = nullptr;
    if (!path.empty()) {
        open = menu->addAction(Res(SOpenInFileManager));
        copy = menu->addAction(Res(SCopyLocation));
        menu->addSeparator();
    }
    QAction* properties = menu->addAction(Res(SProperties));
    properties->setEnabled(!path.empty());
    const QAction* chosen = menu->exec(at);
    const bool chose[] = {chosen != nullptr && chosen == open, chosen != nullptr && chosen == copy,
                          chosen != nullptr && chosen == properties};
    delete menu;
    const QString location = FromPath(path);
    if (chose[0])
        QDesktopServices::openUrl(QUrl::fromLocalFile(location));
    else if (chose[1])
        QGuiApplication::clipboard()->setText(location);
    else if (chose[2])
        ShowProperties(owner, path);
}

}  // namespace pix
