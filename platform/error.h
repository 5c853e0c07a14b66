// SPDX-License-Identifier: MIT
// The exception hierarchy of the whole program and printf-style message formatting.
#pragma once

#include "platform/res_string.h"

#include <cstdarg>
#include <functional>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace pix {

// Base of every exception the program raises on purpose. It carries the message text,
// formatted from its resource string (and so in the user's language while a dictionary is
// open), and the identifier of that string: code and tests tell errors apart by Id, never
// by text. Id 0: a message that is no resource string (a library's own text).
class EPixError : public std::runtime_error {
public:
    explicit EPixError(const std::string& message, int id = 0)
        : std::runtime_error(message), Id(id) {}
    explicit EPixError(const TResString& string) : EPixError(LoadResString(string), string.Id) {}
    template <typename... TArgs>
    EPixError(const TResString& string, TArgs... args)
        : EPixError(FmtRes(string, CheckedArg(args)...), string.Id) {}
    int Id;

protected:
    // The arguments go through printf: numbers and C strings only, never a std::string.
    template <typename T>
    static T CheckedArg(T arg) {
        static_assert(std::is_arithmetic_v<T> || std::is_pointer_v<T>,
                      "message arguments are numbers or C strings");
        return arg;
    }
};

// A stream could not deliver, take or position the bytes asked for.
class EStreamError : public EPixError {
public:
    using EPixError::EPixError;
};

// An operating-system call failed; Code is the system's error number.
class EOSError : public EPixError {
public:
    EOSError(const std::string& message, int code) : EPixError(message), Code(code) {}
    // The message formatted from its resource string with `args`.
    template <typename... TArgs>
    EOSError(const TResString& string, int code, TArgs... args)
        : EPixError(FmtRes(string, CheckedArg(args)...), string.Id), Code(code) {}
    int Code;
};

// Fills a message template of the program ("%d", "%s", "%u", "%x" and the like)
// with its arguments, as the message tables expect.
std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string VFmt(const char* format, va_list args);

// The application's standard exception report: an event handler that catches an exception
// it cannot deal with hands it here, the report shows its message, and the program goes
// on. The program body sets the report (a message box); without one the message is
// written to standard error. Main thread only.
using TApplicationErrorReport = std::function<void(const std::string& message)>;
void SetApplicationErrorReport(TApplicationErrorReport report);
bool HasApplicationErrorReport();
// Reports the exception being handled; call it inside a catch block. Exceptions of any
// type are reported, those that are no std::exception as "Unknown error".
void HandleException();

}  // namespace pix
