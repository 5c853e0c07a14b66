// SPDX-License-Identifier: MIT
// Pixorama's program body. Until the main form exists, a plain window lists the images of
// the start folder as thumbnails, decoded one per turn of the event loop.
#include "platform/code_page.h"
#include "platform/dib_qimage.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "thumbs/thumb_maker.h"

#include <QApplication>
#include <QIcon>
#include <QListWidget>
#include <QMainWindow>
#include <QPixmap>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace pix {
namespace {

constexpr int kThumbWidth = kDefaultThumbWidth;
constexpr int kThumbHeight = kDefaultThumbHeight;

class TPlaceholderWindow : public QMainWindow {
public:
    TPlaceholderWindow(const std::string& folder, bool quitWhenLoaded)
        : FFolder(folder), FQuitWhenLoaded(quitWhenLoaded) {
        setWindowTitle(QString::fromUtf8("Pixorama - " + folder));
        FList = new QListWidget(this);
        FList->setViewMode(QListView::IconMode);
        FList->setIconSize(QSize(kThumbWidth, kThumbHeight));
        FList->setResizeMode(QListView::Adjust);
        FList->setUniformItemSizes(true);
        setCentralWidget(FList);
        resize(900, 600);
        FFiles = FindFiles(folder, {"*.tif", "*.tim", "*.bmp", "*.jpg", "*.png", "*.psd"});
        std::sort(FFiles.begin(), FFiles.end());
        statusBar()->showMessage(QString("%1 images").arg(FFiles.size()));
        FTimer = new QTimer(this);
        connect(FTimer, &QTimer::timeout, this, [this] { LoadNext(); });
        FTimer->start(0);
    }

private:
    void LoadNext() {
        if (FNext >= FFiles.size()) {
            FTimer->stop();
            if (FQuitWhenLoaded) QApplication::exit(FFailed == 0 ? 0 : 1);
            return;
        }
        const std::string& name = FFiles[FNext++];
        auto* item = new QListWidgetItem(QString::fromUtf8(name), FList);
        try {
            TThumbInfo info;
            MakeThumbInfo(JoinPath(FFolder, name), kThumbWidth, kThumbHeight, info);
            if (info.Thumbnail)
                item->setIcon(QIcon(QPixmap::fromImage(DibToQImage(*info.Thumbnail->Section()))));
            if (!info.Comment.empty())
                item->setToolTip(QString::fromUtf8(Cp1252ToUtf8(info.Comment)));
        } catch (const EPixError& e) {
            item->setToolTip(QString::fromUtf8(e.what()));
            ++FFailed;
        }
    }

    std::string FFolder;
    std::vector<std::string> FFiles;
    std::size_t FNext = 0;
    std::size_t FFailed = 0;
    bool FQuitWhenLoaded = false;
    QListWidget* FList = nullptr;
    QTimer* FTimer = nullptr;
};

}  // namespace
}  // namespace pix

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Pixorama");
    // --quit-when-loaded ends the program once every thumbnail was tried (exit status 1 when
    // any failed): a smoke test of the whole chain without a person at the screen.
    QStringList args = QApplication::arguments();
    const bool quitWhenLoaded = args.removeAll("--quit-when-loaded") > 0;
    std::string folder =
        args.size() > 1 ? pix::AbsolutePath(args[1].toStdString()) : pix::AbsolutePath(".");
    if (pix::FileExists(folder) && !pix::DirectoryExists(folder))
        folder = pix::ExtractFileDir(folder);
    pix::TPlaceholderWindow window(folder, quitWhenLoaded);
    window.show();
    return app.exec();
}
