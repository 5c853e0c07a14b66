// SPDX-License-Identifier: MIT
// Starting other programs: command lines split by the Windows rules, detached processes,
// and the folder of the program's own executable.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pix {

// Splits a command line into an argument vector as Windows does for a program:
// - the first argument, the program name, runs up to the first blank or tab, or, when it
//   begins with a double quote, up to the next double quote (no escapes in it);
// - the other arguments are separated by blanks and tabs outside double quotes; a double
//   quote opens or closes a quoted part and is dropped;
// - 2n backslashes before a double quote give n backslashes and the quote acts as above;
//   2n + 1 backslashes before it give n backslashes and a literal quote; backslashes
//   before anything else are literal;
// - inside a quoted part, two double quotes give one literal quote and end the part.
// A line that begins with a blank gives an empty program name.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The argument in double quotes, with the escapes that make SplitCommandLine give it back
// unchanged. A text without double quotes or trailing backslashes is only enclosed.
std::string QuoteArgument(std::string_view argument);

// How long StartProcess waits after the process was created.
inline constexpr int kWaitNone = 0;
inline constexpr int kWaitForEnd = -1;

// Starts argv[0] with the arguments argv, in the caller's environment and current folder;
// a program name without "/" is taken relative to the current folder. No shell sees the
// arguments. The process runs detached, in a new session: it is never our child, so
// it leaves no zombie, and it inherits no descriptor besides standard input, output and
// error, and no blocked or ignored signal. waitMs 0 returns once the program is running,
// -1 waits until it ends, any other value waits at most that many milliseconds for its
// end. False (errno set) when the program could not be started: a missing file, one
// that is not executable or not a program, no process to be had.
bool StartProcess(const std::vector<std::string>& argv, int waitMs);

// SplitCommandLine and StartProcess; false also for an empty command line. An unquoted
// program name with blanks in it is found as Windows finds it: the shortest blank-ended
// prefix of the line that names a regular file.
bool CreateProcess(std::string_view commandLine, int waitMs);

// The full name of the program's own executable; empty when the system does not tell it.
std::string ProgramFileName();
// The folder of the program's own executable, without a trailing "/"; empty when the
// system does not tell it.
std::string ProgramFolder();
// The full name of the shared library whose code or data holds `address`; empty when the
// address lies in the program's executable itself (or in no loaded file).
std::string LibraryFileName(const void* address);
// Makes ProgramFolder give `folder` instead; an empty folder goes back to the real one.
void SetProgramFolderForTesting(const std::string& folder);

}  // namespace pix
