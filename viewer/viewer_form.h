// SPDX-License-Identifier: MIT
// The viewer's window: the image area, the information panel beside it and the status bar.
#pragma once

#include "viewer/folder_files.h"
#include "viewer/view_image.h"

#include "platform/thread.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

class QLabel;
class QSplitter;
class QTextEdit;

namespace pix {

// The viewer's window title, also the name it answers to as the running instance.
inline constexpr char kViewerTitle[] = "Pixorama Viewer";

class TImageView;
class TIvBinaryDictionary;

// Shows one image file at a time. Right and Page Down go to the next image file of the
// folder, Left and Page Up to the previous one (in the browser's order), Home and End to
// the first and last; Ctrl+Page Down and Ctrl+Page Up to the next and previous image of a
// multi-image file. "F" fits the image to the window, "1" shows it 1:1, "+" and "-" zoom;
// "R" resets the display window of a 16-bit image, "W" sets it beside the histogram, "I"
// shows or hides the information panel, F5 reads the file again, Alt+X closes.
class TViewerForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TViewerForm(QWidget* parent = nullptr);
    ~TViewerForm() override;

    // Shows the first image of the file at `path` (made absolute); a folder shows its first
    // image file.
    void OpenFile(const std::string& path);
    // Image `index` of the shown file.
    void ShowImageOfFile(int index);
    // The image file `step` places after the shown one in its folder; nothing past the ends.
    void StepFile(int step);
    // The first or last image file of the folder.
    void EndFile(bool last);
    // Reads the shown image from its file again (and the folder's listing).
    void Reload();
    void ToggleInfo();
    // The display window of a 16-bit image, set beside the histogram of its samples.
    void EditWindow();
    // When the shown file has gone, says so in place of the image; true while it is there.
    bool CheckShownFile();

    TImageView* View() const { return FView; }
    TIvBinaryDictionary* Dictionary() const { return FDictionary.get(); }
    QTextEdit* InfoPanel() const { return FInfo; }
    const TViewImage* Current() const { return FCurrent.get(); }
    // The files of the images kept besides the shown one, the most recently shown first.
    std::vector<std::string> KeptFiles() const;
    // The file whose image is being read ahead, or "".
    const std::string& ReadingAhead() const { return FAheadPath; }

    // Called after each image was shown, with its path and the error text ("" when shown).
    std::function<void(const std::string& path, const std::string& error)> OnShown;

protected:
    bool event(QEvent* event) override;

private:
    void Show(const std::string& path, int index);
    // The image from the kept ones when it is there and its file unchanged, else loaded.
    std::unique_ptr<TViewImage> Obtain(const std::string& path, int index);
    // Keeps at most two images beside the shown one: those of the neighbouring files and
    // other images of the shown file, the most recently shown first.
    void TrimKept();
    // Reads the next file in the direction of the last step on a worker, unless it is kept
    // already; only the image stepped away from stays kept meanwhile, so that no more
    // than three pictures are held.
    void ReadAhead();
    void StopReadingAhead();
    void TakeReadAhead(std::unique_ptr<TViewImage> image);
    void UpdateTitle();
    void UpdateStatus();
    void UpdateInfo();
    void ShowPointer(QPoint pixel);

    // Created first: the window's texts, and the messages it shows, in the user's language.
    std::unique_ptr<TIvBinaryDictionary> FDictionary;
    TImageView* FView;
    QTextEdit* FInfo;
    QSplitter* FSplitter;
    QLabel* FPixelLabel;
    QLabel* FWindowLabel;
    QLabel* FZoomLabel;
    QLabel* FImageLabel;
    std::unique_ptr<TViewImage> FCurrent;
    std::vector<std::unique_ptr<TViewImage>> FKept;  // most recently shown first
    TFolderFiles FFolder;
    std::string FInfoPath;  // the file whose document the panel holds
    std::int32_t FInfoDate = -1;
    int FDirection = 1;  // of the last step through the folder
    // The read-ahead in flight: its file and the stop of its load. The worker frees
    // itself; the form never touches it, and its delivery is dropped once the form is gone.
    std::string FAheadPath;
    std::stop_source FAheadStop;
    TSyncTarget FSyncTarget;
};

}  // namespace pix
