// SPDX-License-Identifier: MIT
#include "platform/file_system.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace pix {

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StatPath(const std::string& path, struct stat& st) {
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

struct TDirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

TDosDateTime UnpackDosDateTime(std::int32_t packed) {
    const auto bits = static_cast<std::uint32_t>(packed);
    return {static_cast<int>((bits >> 25) & 0x7F) + 1980, static_cast<int>((bits >> 21) & 0x0F),
            static_cast<int>((bits >> 16) & 0x1F),        static_cast<int>((bits >> 11) & 0x1F),
            static_cast<int>((bits >> 5) & 0x3F),         static_cast<int>(bits & 0x1F) * 2};
}

std::int32_t PackDosDateTime(const TDosDateTime& parts) {
    const auto field = [](int value, int mask) { return static_cast<std::uint32_t>(value & mask); };
    const std::uint32_t bits = field(parts.Year - 1980, 0x7F) << 25 |
                               field(parts.Month, 0x0F) << 21 | field(parts.Day, 0x1F) << 16 |
                               field(parts.Hour, 0x1F) << 11 | field(parts.Minute, 0x3F) << 5 |
                               field(parts.Second / 2, 0x1F);
    // Years from 2044 on set the top bit; the value is still the packed form, only negative.
    return static_cast<std::int32_t>(bits);
}

namespace {

TFileDate DateOfStatus(const struct stat& st);

}  // namespace

TFileDate ReadFileDate(const std::string& fileName) {
    struct stat st {};
    if (!StatPath(fileName, st)) return {};
    return DateOfStatus(st);
}

TFolderDates::TFolderDates(const std::string& dirName)
    : FFd(open(dirName.empty() ? "." : dirName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

TFolderDates::~TFolderDates() {
    if (FFd >= 0) close(FFd);
}

TFileDate TFolderDates::Read(const std::string& name) const {
    struct stat st {};
    if (FFd < 0 || name.empty() || fstatat(FFd, name.c_str(), &st, 0) != 0) return {};
    return DateOfStatus(st);
}

namespace {

TFileDate DateOfStatus(const struct stat& st) {
    TFileDate date;
    if (S_ISDIR(st.st_mode)) return date;
    date.Exists = true;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    constexpr std::int64_t kNs = 1000000000;
    constexpr std::int64_t kDosStepNs = 2 * kNs;
    const std::int64_t age = (static_cast<std::int64_t>(now.tv_sec) - st.st_mtim.tv_sec) * kNs +
                             (now.tv_nsec - st.st_mtim.tv_nsec);
    date.Settled = age >= kDosStepNs;
    date.Stamp = static_cast<std::int64_t>(st.st_mtim.tv_sec) * kNs + st.st_mtim.tv_nsec;
    date.Size = static_cast<std::int64_t>(st.st_size);
    const std::time_t mtime = st.st_mtime;
    std::tm local{};
    if (localtime_r(&mtime, &local) == nullptr) return date;
    const int year = local.tm_year + 1900;
    // The packed form holds 1980 to 2107 only.
    if (year < 1980 || year > 2107) return date;
    date.InDosRange = true;
    date.Age = PackDosDateTime({year, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                                std::min(local.tm_sec, 59)});
    return date;
}

}  // namespace

std::int32_t FileAge(const std::string& fileName) { return ReadFileDate(fileName).Age; }

std::int64_t FileSize(const std::string& fileName) {
    struct stat st {};
    if (!StatPath(fileName, st) || S_ISDIR(st.st_mode)) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool FileExists(const std::string& fileName) {
    struct stat st {};
    return StatPath(fileName, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& dirName) {
    struct stat st {};
    return StatPath(dirName, st) && S_ISDIR(st.st_mode);
}

int DirectoryListError(const std::string& dirName) {
    if (dirName.empty()) return ENOENT;
    const std::unique_ptr<DIR, TDirCloser> handle(opendir(dirName.c_str()));
    return handle ? 0 : errno;
}

bool DeleteFile(const std::string& fileName) { return unlink(fileName.c_str()) == 0; }

bool MatchesWildcard(std::string_view name, std::string_view pattern) {
    // Windows lets "*.*" stand for every name, also those without a dot.
    if (pattern == "*.*") return name.find('/') == std::string_view::npos;
    // Greedy matching that returns to the last "*" on a mismatch: linear in practice and
    // never exponential, whatever the pattern. No wildcard matches across a "/".
    std::size_t n = 0, p = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && name[n] != '/' &&
                   (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '/' && name[n] == '/') {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos && name[starN] != '/') {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::vector<std::string> FindFiles(const std::string& dir,
                                   const std::vector<std::string>& patterns) {
    std::vector<std::string> result;
    if (dir.empty()) return result;
    std::unique_ptr<DIR, TDirCloser> handle(opendir(dir.c_str()));
    if (!handle) return result;
    const int dirFd = dirfd(handle.get());
    while (const dirent* entry = readdir(handle.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        bool matches = false;
        for (const auto& pattern : patterns) {
            if (MatchesWildcard(name, pattern)) {
                matches = true;
                break;
            }
        }
        if (!matches) continue;
        bool regular = entry->d_type == DT_REG;
        // Some file systems leave the type unknown, and a symbolic link counts by its target.
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st {};
            regular = fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (regular) result.emplace_back(name);
    }
    return result;
}

std::string JoinPath(std::string_view dir, std::string_view name) {
    if (dir.empty()) return std::string(name);
    while (dir.size() > 1 && dir.back() == '/') dir.remove_suffix(1);
    while (!name.empty() && name.front() == '/') name.remove_prefix(1);
    std::string result(dir);
    if (result != "/") result += '/';
    result += name;
    return result;
}

std::string AbsolutePath(std::string_view path) {
    std::string full;
    if (path.empty() || path.front() != '/') {
        std::error_code ec;
        const std::string cwd = std::filesystem::current_path(ec).string();
        full.reserve(cwd.size() + 1 + path.size());
        full.append(ec || cwd.empty() ? std::string_view("/") : std::string_view(cwd));
        full.push_back('/');
    }
    full += path;

    std::vector<std::string_view> parts;
    std::string_view rest = full;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            // ".." above the root stays at the root, as the kernel resolves it.
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    if (parts.empty()) return "/";
    std::string result;
    for (const auto part : parts) {
        result += '/';
        result += part;
    }
    return result;
}

std::string ExtractFileDir(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string ExtractFileName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ExtractFileExt(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
}

std::string UpperCaseAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return result;
}

}  // namespace pix
