// SPDX-License-Identifier: MIT
// The exception hierarchy of the whole program and printf-style message formatting.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace pix {

// Base of every exception the program raises on purpose. It carries the message
// text already formatted; translation happens where the message is shown.
class EPixError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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
    int Code;
};

// Fills a message template of the program ("%d", "%s", "%u", "%x" and the like)
// with its arguments, as the message tables expect.
std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The application's standard exception report: an event handler that catches an exception
// it cannot deal with hands it here, the report shows its message, and the program goes
// on. The program body sets the report (a message box); without one the message is
// written to standard error. Main thread only.
using TApplicationErrorReport = std::function<void(const std::string& message)>;
void SetApplicationErrorReport(TApplicationErrorReport report);
// Reports the exception being handled; call it inside a catch block. Exceptions of any
// type are reported, those that are no std::exception as "Unknown error".
void HandleException();

}  // namespace pix
