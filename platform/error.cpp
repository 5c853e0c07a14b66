// SPDX-License-Identifier: MIT
#include "platform/error.h"

#include "platform/res_strings.h"

#include <cstdarg>
#include <cstdio>
#include <exception>
#include <utility>

namespace pix {

std::string VFmt(const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    // First pass measures; the second writes into a string of exactly that length, so a
    // message of any length (a long path in "%s") comes out whole.
    const int length = std::vsnprintf(nullptr, 0, format, args);
    std::string result;
    if (length > 0) {
        result.resize(static_cast<std::size_t>(length));
        std::vsnprintf(result.data(), result.size() + 1, format, again);
    }
    va_end(again);
    return result;
}

std::string Fmt(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string result = VFmt(format, args);
    va_end(args);
    return result;
}

namespace {

TApplicationErrorReport& ErrorReport() {
    static TApplicationErrorReport report;
    return report;
}

}  // namespace

void SetApplicationErrorReport(TApplicationErrorReport report) {
    ErrorReport() = std::move(report);
}

bool HasApplicationErrorReport() { return static_cast<bool>(ErrorReport()); }

void HandleException() {
    std::string message = LoadResString(SUnknownError);
    try {
        throw;
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
    }
    if (ErrorReport())
        ErrorReport()(message);
    else
        std::fprintf(stderr, "%s\n", message.c_str());
}

}  // namespace pix
