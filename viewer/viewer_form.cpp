// SPDX-License-Identifier: MIT
#include "viewer/viewer_form.h"

#include "info/info_document.h"
#include "viewer/image_view.h"
#include "viewer/window_dialog.h"

#include "i18n/translator.h"
#include "platform/file_system.h"
#include "platform/gui/framework_translator.h"
#include "platform/gui/rtf_reader.h"
#include "platform/res_strings.h"
#include "thumbs/thumb_maker.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QKeySequence>
#include <QLabel>
#include <QSplitter>
#include <QStatusBar>
#include <QTextEdit>

#include <algorithm>
#include <cmath>

namespace pix {
namespace {

// Images kept besides the shown one: its neighbours.
constexpr std::size_t kMaxKept = 2;

QString FromPath(const std::string& path) { return QString::fromUtf8(path.c_str()); }

// Loads the first image of a file on a thread of its own and hands it to the main thread.
class TReadAheadThread : public TThread {
public:
    using TDeliver = std::function<void(std::unique_ptr<TViewImage>)>;
    // With a view size, the copy that fits the image to it is made as well.
    TReadAheadThread(std::string path, QSize fitBox, std::stop_token cancel, TDeliver deliver)
        : FPath(std::move(path)),
          FFitBox(fitBox),
          FCancel(std::move(cancel)),
          FDeliver(std::move(deliver)) {
        FreeOnTerminate = true;
    }

protected:
    void Execute() override {
        // The form's stop ends the load through the thread's own.
        const std::stop_callback forward(FCancel, [this] { Terminate(); });
        auto image = std::make_unique<TViewImage>(LoadViewImage(FPath, 0, StopToken()));
        if (Terminated()) return;
        try {
            PrepareFitCopy(*image, FFitBox.width(), FFitBox.height());
        } catch (const std::exception&) {
            // Without the copy the view makes its own when it shows the image.
            image->Prepared.reset();
        }
        if (Terminated()) return;
        Synchronize([&] { FDeliver(std::move(image)); });
    }

private:
    std::string FPath;
    QSize FFitBox;
    std::stop_token FCancel;
    TDeliver FDeliver;
};

}  // namespace

TViewerForm::TViewerForm(QWidget* parent) : QMainWindow(parent) {
    setObjectName("TViewerForm");
    FDictionary = MakeProgramDictionary();
    setWindowTitle(kViewerTitle);
    resize(1024, 768);

    FSplitter = new QSplitter(Qt::Horizontal, this);
    FSplitter->setHandleWidth(3);
    FView = new TImageView(FSplitter);
    FInfo = new QTextEdit(FSplitter);
    FInfo->setObjectName("InfoPanel");
    FInfo->setReadOnly(true);
    FInfo->setLineWrapMode(QTextEdit::NoWrap);
    FInfo->setFocusPolicy(Qt::ClickFocus);
    FInfo->hide();
    FSplitter->setStretchFactor(0, 1);
    FSplitter->setSizes({760, 260});
    setCentralWidget(FSplitter);

    FPixelLabel = new QLabel(this);
    FPixelLabel->setObjectName("Pixel");
    FWindowLabel = new QLabel(this);
    FWindowLabel->setObjectName("Window");
    FZoomLabel = new QLabel(this);
    FZoomLabel->setObjectName("Zoom");
    FImageLabel = new QLabel(this);
    FImageLabel->setObjectName("ImageOf");
    statusBar()->addWidget(FPixelLabel, 1);
    statusBar()->addPermanentWidget(FWindowLabel);
    statusBar()->addPermanentWidget(FImageLabel);
    statusBar()->addPermanentWidget(FZoomLabel);

    const auto key = [this](std::initializer_list<QKeySequence> keys, auto handler) {
        auto* action = new QAction(this);
        action->setShortcuts(QList<QKeySequence>(keys));
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, handler);
        addAction(action);
    };
    key({Qt::Key_Right, Qt::Key_PageDown}, [this] { StepFile(1); });
    key({Qt::Key_Left, Qt::Key_PageUp}, [this] { StepFile(-1); });
    key({Qt::Key_Home}, [this] { EndFile(false); });
    key({Qt::Key_End}, [this] { EndFile(true); });
    key({QKeySequence(Qt::CTRL | Qt::Key_PageDown)}, [this] {
        if (FCurrent) ShowImageOfFile(FCurrent->Index + 1);
    });
    key({QKeySequence(Qt::CTRL | Qt::Key_PageUp)}, [this] {
        if (FCurrent && FCurrent->Index > 0) ShowImageOfFile(FCurrent->Index - 1);
    });
    key({Qt::Key_F}, [this] { FView->FitToWindow(); });
    key({Qt::Key_1}, [this] { FView->SetZoom(1); });
    key({Qt::Key_Plus, Qt::Key_Equal}, [this] { FView->StepZoom(1); });
    key({Qt::Key_Minus}, [this] { FView->StepZoom(-1); });
    key({Qt::Key_R}, [this] { FView->ResetWindow(); });
    key({Qt::Key_W}, [this] { EditWindow(); });
    key({Qt::Key_I}, [this] { ToggleInfo(); });
    key({Qt::Key_F5}, [this] { Reload(); });
    key({QKeySequence(Qt::ALT | Qt::Key_X), QKeySequence(Qt::CTRL | Qt::Key_Q)},
        [this] { close(); });

    connect(FView, &TImageView::PointerMoved, this, &TViewerForm::ShowPointer);
    connect(FView, &TImageView::ZoomChanged, this, &TViewerForm::UpdateStatus);
    connect(FView, &TImageView::WindowChanged, this, &TViewerForm::UpdateStatus);

    // Captions and hints in the user's language.
    TranslateForm(this, {{"", "Hint"}, {"", "Caption"}});
    UpdateStatus();
}

TViewerForm::~TViewerForm() {
    FDictionary->Close();
    StopReadingAhead();
    // The view must not keep pointing at the image while both go.
    FView->SetImage(nullptr);
}

std::vector<std::string> TViewerForm::KeptFiles() const {
    std::vector<std::string> files;
    for (const auto& kept : FKept) files.push_back(kept->Path);
    return files;
}

void TViewerForm::OpenFile(const std::string& path) {
    std::string file = AbsolutePath(path);
    if (DirectoryExists(file)) {
        FFolder.Invalidate();
        const std::string first = FFolder.EndFile(file, false);
        if (!first.empty()) file = first;
    }
    Show(file, 0);
}

void TViewerForm::ShowImageOfFile(int index) {
    if (!FCurrent || !CheckShownFile()) return;
    if (index < 0 || index >= FCurrent->Count || index == FCurrent->Index) return;
    Show(FCurrent->Path, index);
}

void TViewerForm::StepFile(int step) {
    // A folder without image files has no neighbours to step to.
    if (!FCurrent || DirectoryExists(FCurrent->Path)) return;
    const std::string next = FFolder.Neighbour(FCurrent->Path, step);
    if (next.empty()) return;
    FDirection = step < 0 ? -1 : 1;
    Show(next, 0);
}

void TViewerForm::EndFile(bool last) {
    if (!FCurrent || DirectoryExists(FCurrent->Path)) return;
    const std::string file = FFolder.EndFile(ExtractFileDir(FCurrent->Path), last);
    if (!file.empty() && file != FCurrent->Path) Show(file, 0);
}

void TViewerForm::Reload() {
    if (!CheckShownFile()) return;
    const std::string path = FCurrent->Path;
    const int index = FCurrent->Index;
    StopReadingAhead();
    FKept.clear();
    FFolder.Invalidate();
    FInfoPath.clear();
    FCurrent.reset();
    Show(path, index);
}

void TViewerForm::EditWindow() {
    if (!FView->HasWindow()) return;
    TWindowDialog dialog(*FView, this);
    dialog.exec();
}

void TViewerForm::ToggleInfo() {
    FInfo->setVisible(!FInfo->isVisible());
    CheckShownFile();
    UpdateInfo();
}

bool TViewerForm::CheckShownFile() {
    if (!FCurrent) return false;
    if (FileExists(FCurrent->Path)) return true;
    if (FCurrent->Ok() || FCurrent->ErrorId != SViewerFileGone.Id) {
        FCurrent->Picture.reset();
        FCurrent->Error = LoadResString(SViewerFileGone);
        FCurrent->ErrorId = SViewerFileGone.Id;
        FKept.erase(std::remove_if(FKept.begin(), FKept.end(),
                                   [this](const std::unique_ptr<TViewImage>& kept) {
                                       return kept->Path == FCurrent->Path;
                                   }),
                    FKept.end());
        FView->SetImage(FCurrent.get());
        UpdateTitle();
        UpdateStatus();
        if (OnShown) OnShown(FCurrent->Path, FCurrent->Error);
    }
    return false;
}

bool TViewerForm::event(QEvent* event) {
    // Coming back to the window is when a file removed meanwhile shows as gone.
    if (event->type() == QEvent::WindowActivate) CheckShownFile();
    return QMainWindow::event(event);
}

std::unique_ptr<TViewImage> TViewerForm::Obtain(const std::string& path, int index) {
    // A read-ahead of this very file is given up: reading it here costs no more than
    // waiting for the worker would.
    if (path == FAheadPath) StopReadingAhead();
    const auto at = std::find_if(FKept.begin(), FKept.end(), [&](const auto& kept) {
        return kept->Path == path && kept->Index == index;
    });
    if (at != FKept.end()) {
        std::unique_ptr<TViewImage> kept = std::move(*at);
        FKept.erase(at);
        // A file written again since is read again.
        if (kept->Ok() && kept->FileDate != -1 && kept->FileDate == FileAge(path)) return kept;
    }
    return std::make_unique<TViewImage>(LoadViewImage(path, index));
}

void TViewerForm::Show(const std::string& path, int index) {
    std::unique_ptr<TViewImage> image = Obtain(path, index);
    // The view lets go of the old image before it moves to the kept ones.
    FView->SetImage(nullptr);
    if (FCurrent) FKept.insert(FKept.begin(), std::move(FCurrent));
    FCurrent = std::move(image);
    FView->SetImage(FCurrent.get());
    TrimKept();
    UpdateTitle();
    UpdateStatus();
    FPixelLabel->clear();
    UpdateInfo();
    if (OnShown) OnShown(FCurrent->Path, FCurrent->Error);
    ReadAhead();
}

void TViewerForm::ReadAhead() {
    if (!FCurrent || DirectoryExists(FCurrent->Path)) return;
    const std::string ahead = FFolder.Neighbour(FCurrent->Path, FDirection);
    if (ahead.empty() || ahead == FAheadPath) return;
    for (const auto& kept : FKept)
        if (kept->Path == ahead && kept->Index == 0) return;
    StopReadingAhead();
    const std::string behind = FFolder.Neighbour(FCurrent->Path, -FDirection);
    FKept.erase(std::remove_if(FKept.begin(), FKept.end(),
                               [&](const auto& kept) { return kept->Path != behind; }),
                FKept.end());
    FAheadPath = ahead;
    FAheadStop = std::stop_source();
    const QSize fitBox = FView->FitMode() ? FView->viewport()->size() : QSize();
    auto thread = std::make_unique<TReadAheadThread>(
        ahead, fitBox, FAheadStop.get_token(),
        [this](std::unique_ptr<TViewImage> image) { TakeReadAhead(std::move(image)); });
    thread->SetSyncTarget(FSyncTarget);
    thread.release()->Resume();
}

void TViewerForm::StopReadingAhead() {
    FAheadStop.request_stop();
    FAheadPath.clear();
}

void TViewerForm::TakeReadAhead(std::unique_ptr<TViewImage> image) {
    // A delivery that was given up, or one overtaken by the user, is dropped.
    if (image->Path != FAheadPath || !FCurrent) return;
    FAheadPath.clear();
    if (!image->Ok()) return;
    FKept.insert(FKept.begin(), std::move(image));
    TrimKept();
}

void TViewerForm::TrimKept() {
    const std::string previous = FFolder.Neighbour(FCurrent->Path, -1);
    const std::string next = FFolder.Neighbour(FCurrent->Path, 1);
    std::vector<std::unique_ptr<TViewImage>> keep;
    for (auto& kept : FKept) {
        if (keep.size() >= kMaxKept) break;
        if (!kept->Ok()) continue;
        if (kept->Path == previous || kept->Path == next || kept->Path == FCurrent->Path)
            keep.push_back(std::move(kept));
    }
    FKept = std::move(keep);
}

void TViewerForm::UpdateTitle() {
    if (!FCurrent) {
        setWindowTitle(kViewerTitle);
        return;
    }
    QString title = FromPath(ExtractFileName(FCurrent->Path));
    if (FCurrent->Count > 1)
        title += QString(" [%1/%2]").arg(FCurrent->Index + 1).arg(FCurrent->Count);
    setWindowTitle(title + " - " + kViewerTitle);
}

void TViewerForm::UpdateStatus() {
    const double zoom = FView->Zoom() * 100;
    const QString percent = QString::number(zoom, 'f', zoom < 10 ? 1 : 0);
    FZoomLabel->setText(
        LoadResQString(FView->FitMode() ? SViewerZoomFit : SViewerZoom).arg(percent));
    if (FView->HasWindow()) {
        const TWindow window = FView->Window();
        FWindowLabel->setText(LoadResQString(SViewerWindow).arg(window.Low).arg(window.High));
        FWindowLabel->show();
    } else {
        FWindowLabel->clear();
        FWindowLabel->hide();
    }
    if (FCurrent && FCurrent->Count > 1) {
        FImageLabel->setText(
            LoadResQString(SViewerImageOf).arg(FCurrent->Index + 1).arg(FCurrent->Count));
        FImageLabel->show();
    } else {
        FImageLabel->clear();
        FImageLabel->hide();
    }
}

void TViewerForm::ShowPointer(QPoint pixel) {
    if (!FCurrent || !FCurrent->Ok() || pixel.x() < 0) {
        FPixelLabel->clear();
        return;
    }
    FPixelLabel->setText(PixelText(*FCurrent->Picture, pixel.x(), pixel.y()));
}

void TViewerForm::UpdateInfo() {
    if (!FInfo->isVisible() || !FCurrent) return;
    const std::int32_t date = FileAge(FCurrent->Path);
    if (FInfoPath == FCurrent->Path && FInfoDate == date) return;
    // The browser's entry of the file, made by the same procedure; a file that cannot be
    // read keeps what the entry holds after the failure (its date).
    TThumbInfo entry;
    try {
        MakeThumbInfo(FCurrent->Path, kDefaultThumbWidth, kDefaultThumbHeight, entry);
    } catch (...) {
    }
    LoadRtf(BuildInfoDocument(entry, {}, SystemInfoLocale(), kPanelTextLimit), *FInfo->document());
    FInfoPath = FCurrent->Path;
    FInfoDate = date;
}

}  // namespace pix
