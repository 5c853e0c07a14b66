// SPDX-License-Identifier: MIT
// Pixorama's program body: one instance per user, the splash while the main window is
// built, the main window, the message loop. --version prints the product name and the
// version and ends.
#include "thumbview/thumb_grid.h"

#include "app/pixorama_form.h"
#include "app/splash_form.h"
#include "platform/error.h"
#include "platform/gui/framework_translator.h"
#include "platform/gui/single_instance.h"
#include "platform/gui/window_placement.h"
#include "platform/process.h"
#include "platform/res_strings.h"
#include "platform/signals.h"
#include "platform/thread.h"
#include "platform/version_info.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

namespace pix {
namespace {

// An exception that reaches an event handler or the message loop is shown in a message box
// and the program goes on. Qt's event loop does not let exceptions pass through it.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            // The application's report: the dictionary's, which shows the message in the
            // user's language, or the plain message box below.
            HandleException();
        }
        return false;
    }

    static void ShowException(const char* message) {
        QMessageBox::critical(QApplication::activeWindow(), kApplicationTitle,
                              QString::fromUtf8(message));
    }
};

// Polls until the start folder's generation thread has ended, then quits: with status 0
// when every file got its thumbnail, else 1.
void QuitWhenLoaded(TPixorama& form) {
    auto* timer = new QTimer(&form);
    QObject::connect(timer, &QTimer::timeout, &form, [&form, timer] {
        if (!form.isVisible() || form.Grid()->Directory().empty() || TThread::RunningCount() > 0)
            return;
        timer->stop();
        const TThumbList& thumbs = form.Grid()->Thumbs();
        int missing = 0;
        for (int i = 0; i < thumbs.Count(); ++i)
            if (!thumbs.Items(i).Thumbnail) ++missing;
        QApplication::exit(missing == 0 && thumbs.Count() > 0 ? 0 : 1);
    });
    timer->start(100);
}

}  // namespace
}  // namespace pix

// How long the end of the program waits for a folder load to write its cache file.
constexpr int kFinishWriteMs = 10000;

int main(int argc, char** argv) {
    using namespace pix;
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s\n", VersionLine(ProgramFileName()).c_str());
        return 0;
    }
    // A second start brings the running instance forward and ends without a window.
    TSingleInstance instance;
    if (!instance.IsFirst()) {
        instance.ActivateRunning();
        return 0;
    }

    TApplication app(argc, argv);
    // No display name: Qt would append it to every window title, and the captions are
    // exactly the main window's own texts and "Confirm".
    QApplication::setApplicationName("Pixorama");
    // Key names and standard buttons follow the open dictionary.
    TFrameworkTranslator frameworkTexts;
    QCoreApplication::installTranslator(&frameworkTexts);
    // What a thread or an event handler cannot deal with goes to the application's report.
    TThread::SetExceptionReport([](const TThread&, std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (...) {
            HandleException();
        }
    });

    // --quit-when-loaded ends the program once the start folder's thumbnails were all tried
    // (exit status 1 when one is missing): a smoke test without a person at the screen.
    QStringList args = QApplication::arguments();
    const bool quitWhenLoaded = args.removeAll("--quit-when-loaded") > 0;
    const std::string startArgument = args.size() > 1 ? args[1].toStdString() : std::string();

    auto splash = std::make_unique<TSplashForm>();
    splash->show();
    QApplication::processEvents();

    std::unique_ptr<TPixorama> form;
    try {
        form = std::make_unique<TPixorama>(startArgument);
    } catch (const std::exception& e) {
        // A program that cannot start says why and fails, rather than vanishing quietly.
        splash.reset();
        std::fprintf(stderr, "pixorama: %s\n", e.what());
        TApplication::ShowException(e.what());
        return 1;
    }
    // The form's dictionary installed its report, which translates; otherwise the plain one.
    if (!HasApplicationErrorReport())
        SetApplicationErrorReport(
            [](const std::string& message) { TApplication::ShowException(message.c_str()); });
    SetApplicationMainForm(form.get());
    form->OnFirstShow = [&splash] {
        // The splash stays at least 1.5 s from its creation.
        if (!splash) return;
        const std::uint32_t wait = SplashRemainingMs(splash->CreatedTick(), GetTickCount());
        if (wait > 0) QThread::msleep(wait);
        splash.reset();
    };
    if (quitWhenLoaded) QuitWhenLoaded(*form);
    instance.Serve([] { return std::string(kApplicationTitle); },
                   [&form] { BringApplicationForward(form->windowHandle()); });
    // SIGINT and SIGTERM end the program as the Exit command does: the window closes (and
    // stores the last folder), the event loops end, and the generation thread is stopped
    // below, keeping what it made as the Exit command does.
    const TTerminationSignals stopSignals([&form](int) {
        form->close();
        QApplication::exit(0);
    });
    form->show();
    const int status = QApplication::exec();
    // Records that reloads of the shown folder made since its cache file was last written.
    form->Grid()->FlushCache();
    // Workers still running are stopped before the window and the application go away. A
    // folder load still going keeps what it made: it writes its cache file first, within a
    // bound, after which the write is abandoned and the old file stays.
    TThread::FinishAll(kFinishWriteMs);
    TThread::ShutdownAll(5000);
    form.reset();
    return status;
}
