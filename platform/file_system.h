// SPDX-License-Identifier: MIT
// File ages, sizes, deletion, wildcard listing and path handling.
//
// Paths are the file system's bytes (UTF-8 here), joined with "/"; names that differ only
// in case are different files. Wildcards match without regard to ASCII case, as the
// Windows directory search does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pix {

// Last-write time as the packed DOS date and time in local time:
// bits 25-31 year - 1980, 21-24 month, 16-20 day, 11-15 hour, 5-10 minute, 0-4 seconds / 2.
// -1 when the file does not exist (or is a directory, or its date cannot be packed).
std::int32_t FileAge(const std::string& fileName);

// A file's last-write time as FileAge packs it, and how far a cache may trust it as a key.
struct TFileDate {
    std::int32_t Age = -1;    // as FileAge gives it
    bool Exists = false;      // its status could be read, and it is no directory
    bool InDosRange = false;  // its local date lies in 1980..2107, so Age is that date
    // Written at least one step of the packed form (2 seconds) before now, and not in the
    // future: a later write gets another Age. A file written within the last step may
    // change again without its Age changing.
    bool Settled = false;
    // The last-write time in nanoseconds since 1970 and the size: what a file of the same
    // name must still have to be the same file where Age cannot tell (within the last step).
    std::int64_t Stamp = 0;
    std::int64_t Size = -1;
};
TFileDate ReadFileDate(const std::string& fileName);

// The dates of many files of one folder: each is asked relative to the folder, opened once,
// without walking the folder's path again.
class TFolderDates {
public:
    // A folder that cannot be opened leaves every file missing.
    explicit TFolderDates(const std::string& dirName);
    ~TFolderDates();
    TFolderDates(const TFolderDates&) = delete;
    TFolderDates& operator=(const TFolderDates&) = delete;
    // As ReadFileDate of the folder's file `name`.
    TFileDate Read(const std::string& name) const;

private:
    int FFd = -1;
};

// Size in bytes, or -1 when the file does not exist.
std::int64_t FileSize(const std::string& fileName);

bool FileExists(const std::string& fileName);
bool DirectoryExists(const std::string& dirName);
// 0 when the folder can be opened for listing, else the system's error code: ENOENT for a
// missing folder, ENOTDIR for a file, EACCES for one the user may not read.
int DirectoryListError(const std::string& dirName);

// Removes a file; false (errno kept) when it could not be removed.
bool DeleteFile(const std::string& fileName);

// The parts of a packed DOS date and time.
struct TDosDateTime {
    int Year, Month, Day, Hour, Minute, Second;
};
TDosDateTime UnpackDosDateTime(std::int32_t packed);
std::int32_t PackDosDateTime(const TDosDateTime& parts);

// "*" matches any run of characters, "?" exactly one; letters match without regard to
// ASCII case. "*.*" matches every name, with or without a dot, as on Windows.
bool MatchesWildcard(std::string_view name, std::string_view pattern);

// Names (not paths) of the regular files in `dir` that match any of the patterns, in the
// order the directory yields them. Directories are never listed. An unreadable or missing
// folder gives an empty list.
std::vector<std::string> FindFiles(const std::string& dir,
                                   const std::vector<std::string>& patterns);

// Joins with exactly one "/" between the parts; an empty dir gives the name unchanged.
std::string JoinPath(std::string_view dir, std::string_view name);
// Makes a path absolute against the current directory and removes "." and ".." parts and
// doubled slashes, without touching the file system otherwise. "/" stays "/".
std::string AbsolutePath(std::string_view path);
// The folder part without a trailing "/" ("/" for a file in the root), the name part, and
// the extension with its dot ("" when there is none).
std::string ExtractFileDir(std::string_view path);
std::string ExtractFileName(std::string_view path);
std::string ExtractFileExt(std::string_view path);
// ASCII upper case, the form in which extensions are compared.
std::string UpperCaseAscii(std::string_view text);

}  // namespace pix
