// SPDX-License-Identifier: MIT
// Pixorama's program body. Until the main form exists, a plain window lists the images of
// the start folder as thumbnails, delivered by the generation thread.
#include "platform/code_page.h"
#include "platform/dib_qimage.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/thread.h"
#include "thumbs/thumb_thread.h"

#include <QApplication>
#include <QIcon>
#include <QListWidget>
#include <QMainWindow>
#include <QPixmap>
#include <QStatusBar>

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
        : FQuitWhenLoaded(quitWhenLoaded) {
        setWindowTitle(QString::fromUtf8("Pixorama - " + folder));
        FList = new QListWidget(this);
        FList->setViewMode(QListView::IconMode);
        FList->setIconSize(QSize(kThumbWidth, kThumbHeight));
        FList->setResizeMode(QListView::Adjust);
        FList->setUniformItemSizes(true);
        setCentralWidget(FList);
        resize(900, 600);

        auto thread = std::make_unique<TThumbThread>(folder);
        thread->Generation = ++FGeneration;
        thread->ThumbWidth = kThumbWidth;
        thread->ThumbHeight = kThumbHeight;
        thread->SetSyncTarget(FTarget);
        thread->OnFileList = [this](TThumbThread& sender, const std::vector<std::string>& list) {
            if (sender.Generation != FGeneration) return sender.Terminate();
            FList->clear();
            for (const std::string& name : list)
                new QListWidgetItem(QString::fromUtf8(name), FList);
            FMissing = static_cast<int>(list.size());
            statusBar()->showMessage(QString("%1 images").arg(list.size()));
        };
        thread->OnThumb = [this](TThumbThread& sender, int index) {
            if (sender.Generation != FGeneration) return sender.Terminate();
            QListWidgetItem* item = FList->item(index);
            if (item == nullptr) return;
            TThumbInfo info;
            info.TakeFrom(sender.Info);
            if (info.Thumbnail)
                item->setIcon(QIcon(QPixmap::fromImage(DibToQImage(*info.Thumbnail->Section()))));
            if (!info.Comment.empty())
                item->setToolTip(QString::fromUtf8(Cp1252ToUtf8(info.Comment)));
            --FMissing;
        };
        // --quit-when-loaded: exit status 1 when any file got no thumbnail.
        thread->OnTerminate = [this](TThread&) {
            if (FQuitWhenLoaded) QApplication::exit(FMissing == 0 ? 0 : 1);
        };
        thread.release()->Resume();  // frees itself when done
    }

private:
    TSyncTarget FTarget;
    int FGeneration = 0;
    int FMissing = 0;
    bool FQuitWhenLoaded = false;
    QListWidget* FList = nullptr;
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
    const int status = QApplication::exec();
    // Workers still running are stopped before the window and the application go away.
    pix::TThread::ShutdownAll(5000);
    return status;
}
