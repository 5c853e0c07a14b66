// SPDX-License-Identifier: MIT
#include "cli/thumbs_command.h"

#include "cli/cli_args.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/signals.h"
#include "thumbs/thumb_info.h"
#include "thumbs/thumb_thread.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace pix {
namespace {

constexpr const char* kProgram = "pixorama-cli";
constexpr int kMaxThreads = 64;

// What the grid does with the thread's hand-overs, with lines on the console instead of
// cells: it keeps the file list and one entry per file, takes each delivered thumbnail
// over, and ignores (and stops) a thread of an older load.
class TConsoleReceiver {
public:
    explicit TConsoleReceiver(bool quiet) : FQuiet(quiet) {}

    void Start(const std::string& directory, int boxWidth, int boxHeight, int threads) {
        ++FGeneration;
        auto thread = std::make_unique<TThumbThread>(directory);
        thread->Generation = FGeneration;
        thread->ThumbWidth = boxWidth;
        thread->ThumbHeight = boxHeight;
        thread->DecodeThreads = threads;
        thread->SetSyncTarget(FTarget);
        thread->OnFileList = [this](TThumbThread& sender, const std::vector<std::string>& list) {
            ThreadFileList(sender, list);
        };
        thread->OnThumb = [this](TThumbThread& sender, int index) {
            ThreadNewThumb(sender, index);
        };
        thread->OnTerminate = [this, generation = FGeneration](TThread&) {
            if (generation == FGeneration) QCoreApplication::quit();
        };
        // The thread frees itself when its body has ended.
        thread.release()->Resume();
    }

    // The lines of the files without an entry and the summary.
    void Finish(double seconds) {
        int none = 0;
        for (int i = 0; i < FThumbs.Count(); ++i) {
            if (FThumbs.Items(i).Thumbnail) continue;
            ++none;
            if (!FQuiet)
                std::printf("%d\t%s\tnone\n", i, FFiles[static_cast<std::size_t>(i)].c_str());
        }
        std::printf("files=%d cache=%d made=%d none=%d seconds=%.3f\n", FThumbs.Count(), FCached,
                    FMade, none, seconds);
        std::fflush(stdout);
    }

private:
    void ThreadFileList(TThumbThread& sender, const std::vector<std::string>& list) {
        if (sender.Generation != FGeneration) {
            sender.Terminate();
            return;
        }
        FFiles = list;
        FThumbs.Clear();
        for (std::size_t i = 0; i < list.size(); ++i) FThumbs.Add(std::make_unique<TThumbInfo>());
    }

    void ThreadNewThumb(TThumbThread& sender, int index) {
        if (sender.Generation != FGeneration) {
            sender.Terminate();
            return;
        }
        if (index < 0 || index >= FThumbs.Count()) return;
        FThumbs.Items(index).TakeFrom(sender.Info);
        const bool cached = sender.FromCache();
        (cached ? FCached : FMade)++;
        if (!FQuiet) {
            std::printf("%d\t%s\t%s\n", index, FFiles[static_cast<std::size_t>(index)].c_str(),
                        cached ? "cache" : "made");
        }
    }

    bool FQuiet;
    TSyncTarget FTarget;
    int FGeneration = 0;
    std::vector<std::string> FFiles;
    TThumbList FThumbs;
    int FCached = 0;
    int FMade = 0;
};

void ThumbsUsage() {
    std::fprintf(stderr, "usage: %s thumbs DIR [--box WxH] [--threads N] [--quiet]\n", kProgram);
}

}  // namespace

int ThumbsCommand(std::span<char*> args) {
    std::vector<std::string> names;
    int boxWidth = kDefaultThumbWidth;
    int boxHeight = kDefaultThumbHeight;
    int threads = 0;
    bool quiet = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--box") {
            if (i + 1 >= args.size() || !ParseBox(args[i + 1], boxWidth, boxHeight)) {
                std::fprintf(stderr, "%s: %s\n", kProgram, Fmt(SBadBox, kMaxBoxSide).c_str());
                return 2;
            }
            ++i;
        } else if (arg == "--threads") {
            if (i + 1 >= args.size() || !ParseInt(args[i + 1], 0, kMaxThreads, threads)) {
                std::fprintf(stderr, "%s: --threads takes a number from 0 (one per core) to %d\n",
                             kProgram, kMaxThreads);
                return 2;
            }
            ++i;
        } else if (arg == "--quiet") {
            quiet = true;
        } else {
            names.emplace_back(arg);
        }
    }
    if (names.size() != 1) {
        ThumbsUsage();
        return 2;
    }
    const std::string directory = AbsolutePath(names[0]);
    if (!DirectoryExists(directory)) {
        std::fprintf(stderr, "%s: %s: folder not found\n", kProgram, names[0].c_str());
        return 1;
    }
    // A folder that cannot be listed would look empty; say why instead.
    if (const int error = DirectoryListError(directory); error != 0) {
        std::fprintf(stderr, "%s: %s: %s\n", kProgram, names[0].c_str(),
                     std::generic_category().message(error).c_str());
        return 1;
    }

    int argc = 1;
    char name[] = "pixorama-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    TThread::SetExceptionReport([](const TThread&, std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
        }
    });

    const auto start = std::chrono::steady_clock::now();
    double seconds = 0;
    int stoppedBy = 0;
    {
        TConsoleReceiver receiver(quiet);
        // Ctrl+C or a kill: the thread is stopped where it is, so a cache file being written
        // is dropped with its temporary file and the old one stays, and the summary of what
        // was delivered is still printed.
        const TTerminationSignals termination([&stoppedBy](int signal) {
            if (stoppedBy == 0) stoppedBy = signal;
            TThread::ShutdownAll(5000);
            QCoreApplication::quit();
        });
        receiver.Start(directory, boxWidth, boxHeight, threads);
        QCoreApplication::exec();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        receiver.Finish(seconds);
    }
    TThread::ShutdownAll(5000);
    // The shell's convention for a program ended by a signal.
    return stoppedBy != 0 ? 128 + stoppedBy : 0;
}

}  // namespace pix
