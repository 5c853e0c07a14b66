// SPDX-License-Identifier: MIT
// The change monitor of one folder: a thread that waits for changes on disk and has its
// node re-read on the main thread.
//
// Each monitor blocks in one wait on three events: its folder's change notification, a stop
// event and a filter event (bits of one word, so that a monitor holds no descriptor). The watching
// itself is shared: one change-notification instance of the process holds the watches of all
// monitors and passes each change to the monitors of that folder, so that the system's limit on
// notification instances per user is never reached however many folders are listed.
#pragma once

#include "platform/thread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pix {

// Change-notification filter bits (FILE_NOTIFY_CHANGE_*).
constexpr std::uint32_t FILE_NOTIFY_CHANGE_FILE_NAME = 0x1;    // files created, removed, renamed
constexpr std::uint32_t FILE_NOTIFY_CHANGE_DIR_NAME = 0x2;     // the same for subfolders
constexpr std::uint32_t FILE_NOTIFY_CHANGE_ATTRIBUTES = 0x4;   // an entry's status changed
constexpr std::uint32_t FILE_NOTIFY_CHANGE_SIZE = 0x8;         // a file was written to
constexpr std::uint32_t FILE_NOTIFY_CHANGE_LAST_WRITE = 0x10;  // a file was written to or closed

class TDiscMonitorThread;

// The main-thread side of a monitor: the node it serves.
class TMonitoredNode {
public:
    // A change was seen (on the main thread, while the monitor waits). The folder itself
    // may be gone.
    virtual void FolderChanged(TDiscMonitorThread& sender) = 0;

protected:
    ~TMonitoredNode() = default;
};

// Watches one folder, shallow (not its subfolders). Created suspended on the main thread;
// the owner calls Resume once and destroys it on the main thread. The watch starts with the
// constructor, so a change made after it and before Resume is still reported. A change
// report reaches Node through Synchronize; the folder's own removal or renaming is always
// reported. Changes of entries whose names begin with one of `ignoredNames` are not (a file
// the owner writes into the folder itself, with its temporary names, say).
class TDiscMonitorThread : public TThread {
public:
    TDiscMonitorThread(TMonitoredNode* node, const std::string& path, std::uint32_t filter,
                       std::vector<std::string> ignoredNames = {});
    // Stops the thread and waits for it without running the application's events: a report
    // still on its way is dropped and never reaches Node.
    ~TDiscMonitorThread() override;

    TMonitoredNode* const Node;
    const std::string Path;
    std::uint32_t Filter() const { return FFilter.load(); }
    // A new filter for the running watch, without a restart.
    void SetFilter(std::uint32_t value);
    // The folder could not be watched (it is missing or no folder, or the system's limit on
    // watches is reached); the thread has ended and is not revived.
    bool Failed() const { return FFailed.load(); }
    const std::vector<std::string> IgnoredNames;

protected:
    void Execute() override;

private:
    struct TWatch;
    std::unique_ptr<TWatch> FWatch;
    std::atomic<std::uint32_t> FFilter;
    std::atomic<bool> FFailed{false};
};

}  // namespace pix
