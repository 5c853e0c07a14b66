// SPDX-License-Identifier: MIT
// A stand-in for a second copy of the program in the single-instance tests.
//   serve NAME RECORD TITLE  take the lock, answer with TITLE, append "forward" to RECORD
//                            when asked to come forward; prints "ready" once it listens
//   lock NAME                take the lock and never answer
//   hang NAME                listen but never run the event loop
//   start NAME               start as the program does, with no application object:
//                            prints "first" or "second" and ends
#include "platform/gui/single_instance.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string mode = argv[1];
    const std::string name = argv[2];
    if (mode == "start") {
        pix::TSingleInstance instance(name);
        std::printf("%s\n", instance.IsFirst() ? "first" : "second");
        return 0;
    }
    QCoreApplication app(argc, argv);
    pix::TSingleInstance instance(name);
    if (!instance.IsFirst()) {
        std::printf("second\n");
        return 0;
    }
    if (mode == "serve" && argc >= 5) {
        const std::string record = argv[3];
        const std::string title = argv[4];
        instance.Serve([title] { return title; },
                       [record] { std::ofstream(record, std::ios::app) << "forward\n"; });
    } else if (mode == "hang") {
        instance.Serve([] { return std::string("Pixorama 1.0"); }, [] {});
    }
    std::printf("ready\n");
    std::fflush(stdout);
    if (mode == "hang") {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }
    return app.exec();
}
