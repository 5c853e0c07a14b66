// SPDX-License-Identifier: MIT
// A stand-in for a running imaging application in the hand-over tests.
//   handover_receiver RECORD [--class NAME] [--hang]
// Listens as the window class NAME ("TKelvoForm" when not given) and appends each request
// to RECORD as the message name and the text, each followed by a zero byte. Prints "ready"
// once it listens, "taken" (exit 1) when it cannot. With --hang it records the first
// request and then never answers nor runs its event loop again.
#include "platform/gui/window_message.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string record = argv[1];
    std::string windowClass = "TKelvoForm";
    bool hang = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--class" && i + 1 < argc) {
            windowClass = argv[++i];
        } else if (arg == "--hang") {
            hang = true;
        } else {
            return 2;
        }
    }
    QCoreApplication app(argc, argv);
    pix::TWindowMessageReceiver receiver(windowClass);
    receiver.OnMessage = [&](const std::string& message, const std::string& text) {
        {
            std::ofstream out(record, std::ios::binary | std::ios::app);
            out << message << '\0' << text << '\0';
        }
        while (hang) std::this_thread::sleep_for(std::chrono::hours(1));
    };
    if (!receiver.Listen()) {
        std::printf("taken\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
