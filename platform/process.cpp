// SPDX-License-Identifier: MIT
#include "platform/process.h"

#include "platform/file_system.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace pix {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Descriptors above this are not looked at when the system cannot close a range at once.
constexpr long kMaxDescriptorScan = 65536;
// How often a process waited for with a limit is looked at, in milliseconds.
constexpr long kWaitPollMs = 5;

std::mutex gProgramFolderLock;
std::string gProgramFolderOverride;

// What follows runs in the forked processes of a program with other threads, so it uses
// only calls that are safe after fork: no allocation, no locks, no stdio.

void WriteError(int fd, int error) {
    const char* p = reinterpret_cast<const char*>(&error);
    std::size_t left = sizeof error;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

// Every signal back to its default action and none blocked: the program would otherwise
// keep what this process ignores or blocks (exec resets only caught signals).
void ResetSignals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &action, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Every descriptor above standard error closes at exec, whether or not it was opened so.
void CloseOnExecFromThree(long scanLimit) {
#ifdef CLOSE_RANGE_CLOEXEC
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
    for (int fd = 3; fd < scanLimit; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

void SleepMs(long ms) {
    timespec delay{ms / 1000, (ms % 1000) * 1000000L};
    while (::nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

long ElapsedMs(const timespec& since) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - since.tv_sec) * 1000L + (now.tv_nsec - since.tv_nsec) / 1000000L;
}

// The process between us and the program. It leaves our session, starts the program and
// waits for it as asked, then ends; we reap it at once, and the program, orphaned, goes to
// the system's reaper. The program reports a failed exec through `report` (closed at a
// successful exec); this process reports a failed fork the same way.
[[noreturn]] void RunIntermediate(const char* program, char* const* argv, int report, int readEnd,
                                  int waitMs, long scanLimit) {
    ::close(readEnd);
    ResetSignals();
    ::setsid();
    const pid_t child = ::fork();
    if (child < 0) {
        WriteError(report, errno);
        ::_exit(1);
    }
    if (child == 0) {
        CloseOnExecFromThree(scanLimit);
        ::execve(program, argv, environ);
        WriteError(report, errno);
        ::_exit(127);
    }
    ::close(report);
    if (waitMs < 0) {
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    } else if (waitMs > 0) {
        timespec start{};
        ::clock_gettime(CLOCK_MONOTONIC, &start);
        while (::waitpid(child, nullptr, WNOHANG) == 0 && ElapsedMs(start) < waitMs)
            SleepMs(std::min<long>(kWaitPollMs, waitMs));
    }
    ::_exit(0);
}

// A regular file at `name`: a candidate for the program of a command line.
bool IsProgramFile(const std::string& name) {
    struct stat st {};
    return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> args;
    if (line.empty()) return args;
    const std::size_t n = line.size();
    std::size_t i = 0;

    // The program name knows no escapes.
    if (line[0] == '"') {
        const std::size_t close = line.find('"', 1);
        const std::size_t end = close == std::string_view::npos ? n : close;
        args.emplace_back(line.substr(1, end - 1));
        i = end == n ? n : end + 1;
    } else {
        while (i < n && !IsBlank(line[i])) ++i;
        args.emplace_back(line.substr(0, i));
    }

    for (;;) {
        while (i < n && IsBlank(line[i])) ++i;
        if (i >= n) break;
        std::string arg;
        bool quoted = false;
        while (i < n && (quoted || !IsBlank(line[i]))) {
            const char c = line[i];
            if (c == '\\') {
                std::size_t count = 0;
                while (i < n && line[i] == '\\') {
                    ++count;
                    ++i;
                }
                if (i < n && line[i] == '"') {
                    // Halved; an odd one left over makes the quote literal, else the quote
                    // is taken as a delimiter on the next turn.
                    arg.append(count / 2, '\\');
                    if (count % 2 == 1) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(count, '\\');
                }
            } else if (c == '"') {
                ++i;
                if (!quoted) {
                    quoted = true;
                } else {
                    if (i < n && line[i] == '"') {
                        arg += '"';
                        ++i;
                    }
                    quoted = false;
                }
            } else {
                arg += c;
                ++i;
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

std::string QuoteArgument(std::string_view argument) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
        } else {
            // Backslashes before a quote are doubled and the quote escaped by one more.
            if (c == '"') quoted.append(backslashes + 1, '\\');
            backslashes = 0;
        }
        quoted += c;
    }
    // Those before the closing quote are doubled so that it stays a delimiter.
    quoted.append(backslashes, '\\');
    quoted += '"';
    return quoted;
}

bool StartProcess(const std::vector<std::string>& argv, int waitMs) {
    if (argv.empty() || argv[0].empty()) {
        errno = ENOENT;
        return false;
    }
    // Everything the forked processes use is made here, before the fork.
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const long openMax = ::sysconf(_SC_OPEN_MAX);
    const long scanLimit = openMax > 0 ? std::min(openMax, kMaxDescriptorScan) : 1024;

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return false;
    const pid_t middle = ::fork();
    if (middle < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        errno = error;
        return false;
    }
    if (middle == 0) RunIntermediate(args[0], args.data(), report[1], report[0], waitMs, scanLimit);
    ::close(report[1]);

    // Nothing arrives before the pipe closes when the program runs; an error number when
    // it could not be started.
    int error = 0;
    std::size_t got = 0;
    for (;;) {
        const ssize_t n =
            ::read(report[0], reinterpret_cast<char*>(&error) + got, sizeof error - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
        if (got == sizeof error) break;
    }
    ::close(report[0]);
    // Returns once the program has ended or the wait is over. ECHILD means that someone
    // who reaps every child took it already.
    while (::waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (got == 0) return true;
    errno = got == sizeof error && error != 0 ? error : EIO;
    return false;
}

bool CreateProcess(std::string_view commandLine, int waitMs) {
    std::vector<std::string> argv = SplitCommandLine(commandLine);
    if (argv.empty()) {
        errno = ENOENT;
        return false;
    }
    // An unquoted program name that holds blanks ("/opt/imaging apps/kelvo32.exe") is found
    // as Windows finds it: the shortest blank-ended prefix of the line that names a file is
    // the program, and the rest the arguments.
    if (commandLine.front() != '"' && !IsProgramFile(argv[0])) {
        for (std::size_t blank = commandLine.find_first_of(" \t", argv[0].size());
             blank != std::string_view::npos; blank = commandLine.find_first_of(" \t", blank + 1)) {
            const std::size_t end = commandLine.find_first_of(" \t", blank + 1);
            const std::string name(commandLine.substr(0, end));
            if (!IsProgramFile(name)) continue;
            const std::string rest = end == std::string_view::npos
                                         ? std::string()
                                         : std::string(commandLine.substr(end));
            argv = SplitCommandLine("x" + rest);
            argv[0] = name;
            break;
        }
    }
    return StartProcess(argv, waitMs);
}

std::string ProgramFileName() {
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", target.data(), target.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

std::string ProgramFolder() {
    {
        const std::lock_guard<std::mutex> lock(gProgramFolderLock);
        if (!gProgramFolderOverride.empty()) return gProgramFolderOverride;
    }
    const std::string program = ProgramFileName();
    return program.empty() ? std::string() : ExtractFileDir(program);
}

std::string LibraryFileName(const void* address) {
    Dl_info info{};
    link_map* module = nullptr;
    if (::dladdr1(address, &info, reinterpret_cast<void**>(&module), RTLD_DL_LINKMAP) == 0 ||
        module == nullptr || module->l_name == nullptr)
        return {};
    // The executable's own entry has an empty name.
    return module->l_name;
}

void SetProgramFolderForTesting(const std::string& folder) {
    const std::lock_guard<std::mutex> lock(gProgramFolderLock);
    gProgramFolderOverride = folder;
}

}  // namespace pix
