// SPDX-License-Identifier: MIT
// The exception hierarchy of the whole program and printf-style message formatting.
#pragma once

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

}  // namespace pix
