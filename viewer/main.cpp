// SPDX-License-Identifier: MIT
// pixorama-view [--trace] [FILE]: the viewer's program body. One instance runs per user: a
// later start hands its file to the running viewer, which shows it and comes forward.
// --trace prints a line for each image shown: the path, a tab, and "ok" or the reason it
// could not be shown. --version prints the product name and the version and ends.
#include "viewer/viewer_form.h"

#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/gui/framework_translator.h"
#include "platform/gui/single_instance.h"
#include "platform/process.h"
#include "platform/res_strings.h"
#include "platform/signals.h"
#include "platform/thread.h"
#include "platform/version_info.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace pix {
namespace {

// The viewer's own single-instance lock and socket, apart from the browser's.
constexpr char kViewerInstanceName[] = "Mutex_PIXORAMA_VIEW_10";

// An exception that reaches an event handler is shown and the program goes on; Qt's event
// loop does not let exceptions pass through it.
class TViewerApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            // The application's report: the dictionary's, which shows the message in the
            // user's language, or the plain message box.
            HandleException();
        }
        return false;
    }

    static void ShowException(const char* message) {
        QMessageBox::critical(QApplication::activeWindow(), kViewerTitle,
                              QString::fromUtf8(message));
    }
};

}  // namespace
}  // namespace pix

int main(int argc, char** argv) {
    using namespace pix;
    // The file is taken from the raw arguments: a path is bytes, and need not be UTF-8.
    bool trace = false;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--trace") == 0) {
            trace = true;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s\n", VersionLine(ProgramFileName()).c_str());
            return 0;
        } else if (file.empty()) {
            file = AbsolutePath(argv[i]);
        }
    }

    // A later start hands its file over, brings the running viewer forward and ends.
    TSingleInstance instance(kViewerInstanceName, kViewerTitle, file);
    if (!instance.IsFirst()) return 0;

    TViewerApplication app(argc, argv);
    QApplication::setApplicationName(kViewerTitle);
    // Key names and standard buttons follow the open dictionary.
    TFrameworkTranslator frameworkTexts;
    QCoreApplication::installTranslator(&frameworkTexts);
    TViewerForm form;
    if (!HasApplicationErrorReport())
        SetApplicationErrorReport(
            [](const std::string& message) { TViewerApplication::ShowException(message.c_str()); });
    if (trace) {
        form.OnShown = [](const std::string& path, const std::string& error) {
            std::printf("%s\t%s\n", path.c_str(), error.empty() ? "ok" : error.c_str());
            std::fflush(stdout);
        };
    }
    instance.Serve([] { return std::string(kViewerTitle); },
                   [&form](const std::string& argument) {
                       // Answered first, so the later start can end; the file loads after.
                       QTimer::singleShot(0, &form, [&form, argument] {
                           if (!argument.empty()) form.OpenFile(argument);
                           BringApplicationForward(form.windowHandle());
                       });
                   });
    const TTerminationSignals stopSignals([&form](int) {
        form.close();
        QApplication::exit(0);
    });
    form.show();
    if (!file.empty()) form.OpenFile(file);
    const int status = QApplication::exec();
    // A read-ahead still loading ends before the window and the application go.
    TThread::ShutdownAll(5000);
    return status;
}
