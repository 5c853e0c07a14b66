// The information panel's rich-text reader, loading any bytes into a text document.
#include "platform/gui/rtf_reader.h"

#include <QGuiApplication>
#include <QTextDocument>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {
// Written so the compiler cannot drop the document.
volatile std::uint64_t GSink = 0;
}  // namespace

// A text document lays out with fonts, which need the application object; the offscreen
// platform needs no display. The application lives until the process ends: destroying it
// among the static destructors, after Qt's own globals are gone, crashes.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication* application = new QGuiApplication(*argc, *argv);
    (void)application;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QTextDocument document;
    pix::LoadRtf(std::string_view(reinterpret_cast<const char*>(data), size), document);
    GSink = GSink + static_cast<std::uint64_t>(document.characterCount());
    return 0;
}
