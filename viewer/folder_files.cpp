// SPDX-License-Identifier: MIT
#include "viewer/folder_files.h"

#include "formats/format_table.h"

#include "platform/file_system.h"
#include "thumbs/thumb_thread.h"

#include <QDateTime>
#include <QFileInfo>

namespace pix {
namespace {

// The folder's modification time: adding, removing or renaming a file changes it.
std::int64_t FolderStamp(const std::string& dir) {
    const QFileInfo info(QString::fromUtf8(dir.c_str()));
    return info.exists() ? info.lastModified().toMSecsSinceEpoch() : -1;
}

}  // namespace

const std::vector<std::string>& TFolderFiles::Names(const std::string& dir) {
    const std::int64_t stamp = FolderStamp(dir);
    if (dir != FDir || stamp != FStamp || stamp < 0) {
        TThumbFileList list;
        list.AddAll(FindFiles(dir, ImageFilePatterns()));
        FNames = list.Names();
        FDir = dir;
        FStamp = stamp;
    }
    return FNames;
}

std::string TFolderFiles::Neighbour(const std::string& path, int step) {
    const std::string dir = ExtractFileDir(path);
    const std::string name = ExtractFileName(path);
    TThumbFileList list;
    list.AddAll(Names(dir));
    list.AddAll({name});
    const long long at = static_cast<long long>(list.Find(name)) + step;
    if (at < 0 || at >= list.Count()) return {};
    return JoinPath(dir, list[static_cast<int>(at)].Name);
}

std::string TFolderFiles::EndFile(const std::string& dir, bool last) {
    const std::vector<std::string>& names = Names(dir);
    if (names.empty()) return {};
    return JoinPath(dir, last ? names.back() : names.front());
}

}  // namespace pix
