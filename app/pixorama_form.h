// SPDX-License-Identifier: MIT
// The program's main window: folder tree, information panel and thumbnail grid, with the
// menu commands open, refresh, delete, exit and about.
#pragma once

#include <QEvent>
#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>

class QAction;
class QLabel;
class QSplitter;
class QTextEdit;

namespace pix {

class TFolderTree;
class TFormStorage;
class TIvBinaryDictionary;
class TIvTranslator;
class TLwThumbGrid;
class TPanel;
class TShellTree;

inline constexpr char kApplicationTitle[] = "Pixorama 1.0";
// The key under HKEY_CURRENT_USER that the window's stored values live in.
inline constexpr char kFormStorageKey[] = "Software\\Corvane\\Pixorama";

class TPixorama : public QMainWindow {
    Q_OBJECT
public:
    // `startArgument` is the program's first command-line argument, empty when none.
    explicit TPixorama(const std::string& startArgument = {}, QWidget* parent = nullptr);
    ~TPixorama() override;

    // Called once when the window is first shown, after the start folder was chosen; the
    // program body removes the splash here.
    std::function<void()> OnFirstShow;
    // Hands a file to the imaging application (HandOver), or beeps when nothing could be
    // started. Tests put their own in.
    std::function<void(const std::string& path)> OnOpenImage;
    // The confirmation question before a delete; the default shows the message box. Tests
    // answer it themselves.
    std::function<bool(const QString& question)> OnConfirmDelete;
    // Shows an error message; the default is a message box.
    std::function<void(const QString& message)> OnError;

    TLwThumbGrid* Grid() const { return FGrid; }
    TShellTree* ShellTree() const;
    TFormStorage* FormStorage() const { return FFormStorage; }
    TIvBinaryDictionary* Dictionary() const { return FDictionary.get(); }
    TIvTranslator* Translator() const { return FTranslator; }
    QTextEdit* Memo() const { return FMemo; }
    QLabel* ProgressLabel() const { return FProgress; }
    QAction* OpenAction() const { return FOpen; }
    QAction* DeleteAction() const { return FDelete; }
    QAction* RefreshAction() const { return FRefresh; }
    int SelectedIndex() const { return FSelectedIndex; }

    // The menu commands.
    void miOpenClick();
    void miDirUpdateClick();
    void miDeleteClick();
    void miExitClick();
    void miAboutClick();

    // The form storage's events, after it restored or saved the window placement and the
    // pane sizes: the start folder is chosen (the first argument naming an existing file,
    // else the stored last folder), and the last folder is stored.
    void FormStorageRestorePlacement();
    void FormStorageSavePlacement();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateMenu();
    void ShellTreeChange();
    void GridDirChange();
    void GridSelectCell(int col, int row, bool& canSelect);
    void GridNewThumb(int fileIndex);
    // Shows "loaded / files" in the status bar's right part while a load runs.
    void GridLoadProgress();
    void GridMouseMove(int x, int y);
    // The application's hint handling: the status bar shows the hint of the control under
    // the pointer (or of its nearest parent that has one), nothing when it has none or the
    // pointer is outside the window.
    void ControlHintEvent(QObject* watched, QEvent::Type type);
    QString HintOf(const QWidget* control) const;
    void ShowHint(const QString& hint);
    void ShowEntry(int fileIndex);
    void SetFileActionsEnabled(bool enabled);
    void UpdateCaption();
    // The file index of the grid's selection, or -1.
    int SelectionFileIndex() const;
    std::string FullPath(int fileIndex) const;
    std::string StorageKey() const;

    std::string FStartArgument;
    // Created first and destroyed last: every text of the window is translated with it.
    std::unique_ptr<TIvBinaryDictionary> FDictionary;
    TIvTranslator* FTranslator = nullptr;
    int FSelectedIndex = -1;
    bool FShown = false;
    // Set while a key or mouse event of the user reaches the grid: a cell the user selects
    // enables Open and Delete at once.
    bool FUserInput = false;
    TFormStorage* FFormStorage = nullptr;
    TPanel* FPanel1 = nullptr;
    TFolderTree* FShellTree = nullptr;
    QTextEdit* FMemo = nullptr;
    QLabel* FProgress = nullptr;
    TLwThumbGrid* FGrid = nullptr;
    QSplitter* FSplitterV = nullptr;
    QAction* FOpen = nullptr;
    QAction* FRefresh = nullptr;
    QAction* FDelete = nullptr;
    QAction* FExit = nullptr;
    QAction* FAbout = nullptr;
};

}  // namespace pix
