// SPDX-License-Identifier: MIT
#include "app/pixorama_form.h"

#include "info/info_document.h"
#include "thumbview/thumb_grid.h"

#include "app/about_form.h"
#include "app/image_handover.h"
#include "app/panes.h"
#include "foldertree/shell_tree.h"
#include "i18n/translator.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/gui/framework_translator.h"
#include "platform/gui/rtf_reader.h"
#include "platform/res_strings.h"
#include "settings/form_placement.h"
#include "settings/registry_ex.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>

namespace pix {
namespace {

// Texts of the main window.
constexpr const char* SDirTreeDirectory = "DirTree_Directory";

// The status bar is one line of a few hundred characters; a comment of megabytes would
// otherwise be converted on every mouse move and laid out on every paint.
constexpr std::size_t kMaxCommentHint = 1024;

QString FromLocal(const std::string& text) { return QString::fromUtf8(text.c_str()); }

}  // namespace

TPixorama::TPixorama(const std::string& startArgument, QWidget* parent)
    : QMainWindow(parent), FStartArgument(startArgument) {
    setObjectName("TPixorama");
    // The dictionary of the user's language: the program's own, built into it.
    FDictionary = MakeProgramDictionary();
    setWindowTitle(kApplicationTitle);
    // The designed place; the form storage puts the window where it was last.
    setGeometry(92, 169, 645, 495);

    // The window placement, the pane sizes and (through its events) the last folder.
    FFormStorage = new TFormStorage(this);
    FFormStorage->setObjectName("FormStorage");
    FFormStorage->SetIniFileName(kFormStorageKey);
    FFormStorage->SetUseRegistry(true);
    FFormStorage->SetStoredProps({"Panel1.Width", "ShellTree.Height"});
    connect(FFormStorage, &TFormPlacement::OnRestorePlacement, this,
            [this] { FormStorageRestorePlacement(); });
    connect(FFormStorage, &TFormPlacement::OnSavePlacement, this,
            [this] { FormStorageSavePlacement(); });

    // Left: the folder tree over the information panel; right: the grid.
    FSplitterV = new QSplitter(Qt::Horizontal, this);
    FSplitterV->setHandleWidth(3);
    FPanel1 = new TPanel(Qt::Vertical, FSplitterV);
    FPanel1->setObjectName("Panel1");
    FPanel1->setHandleWidth(3);
    FShellTree = new TFolderTree(FPanel1);
    FShellTree->setObjectName("ShellTree");
    FShellTree->SetShowVirtualFolders(false);
    FShellTree->SetReadOnly(true);
    FShellTree->setRootIsDecorated(false);
    FShellTree->setIndentation(19);
    FMemo = new QTextEdit(FPanel1);
    FMemo->setReadOnly(true);
    FMemo->setLineWrapMode(QTextEdit::NoWrap);
    FMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FPanel1->setSizes({239, 200});
    FGrid = new TLwThumbGrid(FSplitterV);
    FGrid->SetFrameBorder(4);
    FGrid->SetOptions(goDrawFocusSelected | goThumbTracking);
    // No tooltips: the comment under the pointer goes to the status bar instead.
    FGrid->SetShowHint(false);
    FSplitterV->setSizes({200, 445});
    FSplitterV->setStretchFactor(1, 1);
    setCentralWidget(FSplitterV);
    statusBar()->setSizeGripEnabled(true);
    // The right part: how far the folder's load has come; the hint keeps the left part.
    FProgress = new QLabel(this);
    FProgress->setObjectName("Progress");
    FProgress->hide();
    statusBar()->addPermanentWidget(FProgress);

    CreateMenu();

    FShellTree->OnChange = [this] { ShellTreeChange(); };
    FGrid->OnDirChange = [this] { GridDirChange(); };
    // The shown folder was removed or renamed: the tree moves to what is left of its path.
    FGrid->OnDirGone = [this] { FShellTree->SetPath(FGrid->Directory()); };
    FGrid->OnSelectCell = [this](int col, int row, bool& canSelect) {
        GridSelectCell(col, row, canSelect);
    };
    FGrid->OnNewThumb = [this](int fileIndex) { GridNewThumb(fileIndex); };
    FGrid->OnLoadProgress = [this] { GridLoadProgress(); };
    FGrid->OnDblClick = [this] { miOpenClick(); };
    FGrid->OnMouseMove = [this](Qt::KeyboardModifiers, int x, int y) { GridMouseMove(x, y); };
    FGrid->installEventFilter(this);
    FGrid->viewport()->installEventFilter(this);
    // Every control's entering and leaving, for the hint in the status bar.
    qApp->installEventFilter(this);

    // The texts of every control, in the user's language. A dictionary that cannot be
    // opened leaves them native and says why.
    FTranslator = TranslateForm(
        this, {{"", "Hint"}, {"", "Caption"}, {"", "Items"}, {"TRichEdit", "Text"}, {"", "Lines"}});

    // A beep is the only sign that nothing could be started.
    OnOpenImage = [](const std::string& path) {
        if (HandOver(path) == hoNothing) QApplication::beep();
    };
    OnConfirmDelete = [this](const QString& question) {
        QMessageBox box(QMessageBox::Question, LoadResQString(SConfirmCaption), question,
                        QMessageBox::NoButton, this);
        QPushButton* yes = box.addButton(LoadResQString(SMsgYes), QMessageBox::YesRole);
        QPushButton* no = box.addButton(LoadResQString(SMsgNo), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes;
    };
    OnError = [this](const QString& message) {
        QMessageBox::critical(this, kApplicationTitle, message);
    };
}

TPixorama::~TPixorama() {
    FFormStorage->FormDestroy();
    qApp->removeEventFilter(this);
    // The translator goes with the window's children, after the dictionary closed.
    FDictionary->Close();
}

TShellTree* TPixorama::ShellTree() const { return FShellTree; }

void TPixorama::CreateMenu() {
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("miFile");
    FOpen = file->addAction("&Open image");
    FOpen->setObjectName("miOpen");
    FOpen->setStatusTip("Open image in Kelvo");
    // The first shortcut is the one the menu shows: "Enter". Return, the main keyboard's
    // Enter key, acts the same.
    FOpen->setShortcuts({QKeySequence(Qt::Key_Enter), QKeySequence(Qt::Key_Return)});
    connect(FOpen, &QAction::triggered, this, [this] { miOpenClick(); });
    file->addSeparator();
    FRefresh = file->addAction("&Refresh");
    FRefresh->setObjectName("miDirUpdate");
    FRefresh->setStatusTip("Refresh directory");
    FRefresh->setShortcut(QKeySequence(Qt::Key_F2));
    connect(FRefresh, &QAction::triggered, this, [this] { miDirUpdateClick(); });
    FDelete = file->addAction("Delete");
    FDelete->setObjectName("miDelete");
    FDelete->setStatusTip("Delete image file");
    FDelete->setShortcut(QKeySequence(Qt::Key_Delete));
    connect(FDelete, &QAction::triggered, this, [this] { miDeleteClick(); });
    file->addSeparator();
    FExit = file->addAction("E&xit");
    FExit->setObjectName("miExit");
    FExit->setStatusTip("Quit Pixorama");
    FExit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_X));
    connect(FExit, &QAction::triggered, this, [this] { miExitClick(); });

    QMenu* help = menuBar()->addMenu("&Help");
    help->setObjectName("miHelp");
    FAbout = help->addAction("&About...");
    FAbout->setObjectName("miAbout");
    FAbout->setStatusTip("Show program information");
    connect(FAbout, &QAction::triggered, this, [this] { miAboutClick(); });
    // The shortcuts act whichever control has the focus, as long as the item is enabled.
    for (QAction* action : {FOpen, FRefresh, FDelete, FExit, FAbout}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
}

void TPixorama::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (FShown) return;
    FShown = true;
    if (OnFirstShow) OnFirstShow();
}

bool TPixorama::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::Enter || type == QEvent::Leave) {
        ControlHintEvent(watched, type);
    } else if ((type == QEvent::MouseButtonPress || type == QEvent::KeyPress) &&
               (watched == FGrid || watched == FGrid->viewport())) {
        FUserInput = true;
        // Cleared once the event has been handled, before the next one.
        QTimer::singleShot(0, this, [this] { FUserInput = false; });
    }
    return QMainWindow::eventFilter(watched, event);
}

std::string TPixorama::StorageKey() const {
    return FFormStorage->IniFileName() + "\\" + FFormStorage->IniSection();
}

void TPixorama::FormStorageRestorePlacement() {
    if (!FStartArgument.empty()) {
        const std::string path = AbsolutePath(FStartArgument);
        if (FileExists(path) && !DirectoryExists(path)) {
            FShellTree->SetPath(ExtractFileDir(path));
            return;
        }
    }
    const std::string stored =
        RegistryReadString(HKEY_CURRENT_USER, StorageKey(), SDirTreeDirectory, FShellTree->Path());
    FShellTree->SetPath(stored.empty() ? QDir::homePath().toStdString() : stored);
}

void TPixorama::FormStorageSavePlacement() {
    RegistryWriteString(HKEY_CURRENT_USER, StorageKey(), SDirTreeDirectory, FShellTree->Path());
}

void TPixorama::ShellTreeChange() { FGrid->SetDirectory(FShellTree->Path()); }

void TPixorama::GridDirChange() {
    FSelectedIndex = -1;
    SetFileActionsEnabled(false);
    FMemo->clear();
    UpdateCaption();
}

void TPixorama::GridSelectCell(int col, int row, bool& /*canSelect*/) {
    const int index = FGrid->CellToFileIndex(col, row);
    if (index >= 0 && index != FSelectedIndex) {
        FSelectedIndex = index;
        ShowEntry(index);
    }
    // A cell that holds a file, chosen by the user, can be opened and deleted at once, also
    // when its thumbnail cannot be made.
    if (index >= 0 && FUserInput) SetFileActionsEnabled(true);
    UpdateCaption();
}

void TPixorama::GridNewThumb(int fileIndex) {
    if (fileIndex != FGrid->FileIndex() || FGrid->Thumbs().Count() == 0) return;
    FSelectedIndex = fileIndex;
    ShowEntry(fileIndex);
    SetFileActionsEnabled(true);
    UpdateCaption();
}

void TPixorama::GridLoadProgress() {
    const int total = static_cast<int>(FGrid->Files().size());
    if (!FGrid->Loading() || total == 0) {
        FProgress->hide();
        return;
    }
    // Thousands grouped with a comma whatever the user's locale.
    const QLocale grouped(QLocale::English, QLocale::UnitedStates);
    FProgress->setText(grouped.toString(FGrid->LoadedCount()) + " / " + grouped.toString(total));
    FProgress->show();
}

void TPixorama::GridMouseMove(int x, int y) {
    int col = -1, row = -1;
    FGrid->CellAtPoint(x, y, col, row);
    const int index = FGrid->CellToFileIndex(col, row);
    const QString hint =
        index < 0 ? QString()
                  : QString::fromUtf8(Cp1252ToUtf8(
                        FGrid->Thumbs().Items(index).Comment.substr(0, kMaxCommentHint)));
    // The status bar shows the comment of the image under the pointer.
    FGrid->SetHint(hint);
    ShowHint(hint);
}

void TPixorama::ControlHintEvent(QObject* watched, QEvent::Type type) {
    const auto* control = qobject_cast<const QWidget*>(watched);
    if (control == nullptr || control->window() != this) return;
    // Qt leaves the old controls before it enters the new ones, so only leaving the window
    // itself clears; entering a control shows its hint, empty or not.
    if (type == QEvent::Leave) {
        if (control == this) ShowHint({});
    } else {
        ShowHint(HintOf(control));
    }
}

QString TPixorama::HintOf(const QWidget* control) const {
    for (; control != nullptr; control = control->parentWidget()) {
        const QString hint = control == FGrid ? FGrid->Hint() : control->statusTip();
        if (!hint.isEmpty() || control == this) return hint;
    }
    return {};
}

void TPixorama::ShowHint(const QString& hint) {
    // A hint's long part follows its first "|"; without one the whole text serves.
    const int bar = hint.indexOf('|');
    statusBar()->showMessage(bar >= 0 ? hint.mid(bar + 1) : hint);
}

void TPixorama::ShowEntry(int fileIndex) {
    if (fileIndex < 0 || fileIndex >= FGrid->Thumbs().Count()) return;
    const std::string document = BuildInfoDocument(FGrid->Thumbs().Items(fileIndex), {},
                                                   SystemInfoLocale(), kPanelTextLimit);
    LoadRtf(document, *FMemo->document());
}

void TPixorama::SetFileActionsEnabled(bool enabled) {
    FOpen->setEnabled(enabled && FGrid->Thumbs().Count() > 0);
    FDelete->setEnabled(FOpen->isEnabled());
}

void TPixorama::UpdateCaption() {
    const std::string path = FShellTree->Path();
    QString caption = kApplicationTitle;
    if (!path.empty()) {
        caption += " - " + FromLocal(path);
        const auto& files = FGrid->Files();
        if (FSelectedIndex >= 0 && FSelectedIndex < static_cast<int>(files.size()))
            caption += "/" + FromLocal(files[static_cast<std::size_t>(FSelectedIndex)]);
    }
    setWindowTitle(caption);
}

int TPixorama::SelectionFileIndex() const {
    const auto selection = FGrid->Selection();
    return FGrid->CellToFileIndex(selection.Left, selection.Top);
}

std::string TPixorama::FullPath(int fileIndex) const {
    return JoinPath(FShellTree->Path(), FGrid->Files()[static_cast<std::size_t>(fileIndex)]);
}

void TPixorama::miOpenClick() {
    const int index = SelectionFileIndex();
    if (index < 0 || !FOpen->isEnabled()) return;
    if (OnOpenImage) OnOpenImage(FullPath(index));
}

void TPixorama::miDirUpdateClick() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        FShellTree->RefreshTree();
    } catch (...) {
        QApplication::restoreOverrideCursor();
        throw;
    }
    QApplication::restoreOverrideCursor();
    FGrid->ReloadDirectory(true);
}

void TPixorama::miDeleteClick() {
    const int index = SelectionFileIndex();
    if (index < 0 || !FDelete->isEnabled()) return;
    const std::string path = FullPath(index);
    const QString question = FromLocal(FmtRes(SDeleteQuestion, path.c_str()));
    if (!OnConfirmDelete || !OnConfirmDelete(question)) return;
    if (!DeleteFile(path)) {
        // The file is still there: say so with the system's reason, then reload anyway.
        const int code = errno;
        if (OnError)
            OnError(LoadResQString(SDeleteFailed)
                        .arg(FromLocal(path), QString::fromLocal8Bit(std::strerror(code))));
    }
    FGrid->ReloadDirectory(true);
}

void TPixorama::miExitClick() { close(); }

void TPixorama::miAboutClick() {
    TAboutForm about(this);
    about.exec();
}

}  // namespace pix
