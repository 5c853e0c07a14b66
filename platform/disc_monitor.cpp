// SPDX-License-Identifier: MIT
#include "platform/disc_monitor.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <poll.h>
#include <stop_token>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace pix {
namespace {

// Raises an event of the notifier's own (its reader's stop).
void Signal(int fd) {
    const std::uint64_t one = 1;
    while (write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

// A monitor's three events (stop, filter, change) as bits of one word that its thread waits
// on: no descriptor per monitor, so that thousands of listed folders do not use up the
// process's descriptors.
enum : std::uint32_t { evStop = 1, evFilter = 2, evChange = 4 };

struct TEvents {
    std::atomic<std::uint32_t> Raised{0};
    void Raise(std::uint32_t events) {
        Raised.fetch_or(events);
        Raised.notify_one();
    }
    // Blocks until an event is raised and takes all that are.
    std::uint32_t Wait() {
        for (;;) {
            const std::uint32_t events = Raised.exchange(0);
            if (events != 0) return events;
            Raised.wait(0);
        }
    }
};

constexpr std::uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr std::uint32_t kWriteEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB;
// The folder itself going away is reported whatever the filter: its node must learn it.
constexpr std::uint32_t kSelfEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

// The events a filter needs from the system.
std::uint32_t WatchMask(std::uint32_t filter) {
    std::uint32_t mask = IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;
    if ((filter & (FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME)) != 0)
        mask |= kNameEvents;
    if ((filter & FILE_NOTIFY_CHANGE_ATTRIBUTES) != 0) mask |= IN_ATTRIB;
    if ((filter & (FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE)) != 0)
        mask |= kWriteEvents;
    return mask;
}

// Whether one event of the watched folder concerns a monitor with this filter. The system
// watches for the union of several monitors' needs, so each picks its own events here.
bool Concerns(std::uint32_t filter, std::uint32_t mask) {
    if ((mask & (kSelfEvents | IN_Q_OVERFLOW)) != 0) return true;
    const bool folder = (mask & IN_ISDIR) != 0;
    if ((mask & kNameEvents) != 0 &&
        (filter & (folder ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME)) != 0)
        return true;
    if ((mask & IN_ATTRIB) != 0 &&
        (filter & (FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_LAST_WRITE)) != 0)
        return true;
    return (mask & (IN_MODIFY | IN_CLOSE_WRITE)) != 0 && !folder &&
           (filter & (FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE)) != 0;
}

// One monitor's share of the process's notification instance.
struct TSubscription {
    int Watch = -1;             // the system's watch, -1 once it has gone
    TEvents* Events = nullptr;  // evChange is raised for each change that concerns it
    std::uint32_t Filter = 0;
    const std::vector<std::string>* Ignored = nullptr;
};

// The process's one notification instance. It exists while any monitor watches: the first
// subscription opens it and starts its reader, the last one stops the reader and closes it.
class TNotifier {
public:
    static TNotifier& Instance() {
        // Never destroyed: a monitor may end after static destruction began.
        static TNotifier* notifier = new TNotifier;
        return *notifier;
    }

    // False (errno set) when the folder cannot be watched.
    bool Add(TSubscription& sub, const std::string& path) {
        std::lock_guard life(FLifeLock);
        if (FUsers == 0 && !Start()) return false;
        ++FUsers;
        std::lock_guard table(FTableLock);
        const int watch = inotify_add_watch(FFd, path.c_str(), WatchMask(sub.Filter) | IN_MASK_ADD);
        if (watch < 0) {
            const int error = errno;
            Release();
            errno = error;
            return false;
        }
        sub.Watch = watch;
        FWatches[watch].push_back(&sub);
        return true;
    }

    // Widens the watch for a new filter; false when the folder can no longer be watched.
    bool Refilter(TSubscription& sub, const std::string& path, std::uint32_t filter) {
        std::lock_guard life(FLifeLock);
        std::lock_guard table(FTableLock);
        sub.Filter = filter;
        if (sub.Watch < 0) return false;
        const int watch = inotify_add_watch(FFd, path.c_str(), WatchMask(filter) | IN_MASK_ADD);
        if (watch == sub.Watch) return true;
        // The path now names another folder (or none): this watch is no longer the node's.
        Unlink(sub);
        if (watch >= 0 && FWatches.count(watch) == 0) inotify_rm_watch(FFd, watch);
        return false;
    }

    void Remove(TSubscription& sub) {
        std::lock_guard life(FLifeLock);
        {
            std::lock_guard table(FTableLock);
            Unlink(sub);
        }
        Release();
    }

private:
    // Under both locks.
    void Unlink(TSubscription& sub) {
        if (sub.Watch < 0) return;
        const auto at = FWatches.find(sub.Watch);
        if (at != FWatches.end()) {
            std::erase(at->second, &sub);
            if (at->second.empty()) {
                FWatches.erase(at);
                inotify_rm_watch(FFd, sub.Watch);
            }
        }
        sub.Watch = -1;
    }

    // Under the life lock.
    bool Start() {
        FFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (FFd < 0) return false;
        FStop = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (FStop < 0) {
            const int error = errno;
            close(FFd);
            FFd = -1;
            errno = error;
            return false;
        }
        try {
            FReader = std::thread([this] { Read(); });
        } catch (...) {
            close(FStop);
            close(FFd);
            FFd = FStop = -1;
            errno = EAGAIN;
            return false;
        }
        return true;
    }

    // Under the life lock: the last user stops the reader and closes the instance.
    void Release() {
        if (--FUsers > 0) return;
        Signal(FStop);
        FReader.join();
        close(FStop);
        close(FFd);
        FFd = FStop = -1;
        FWatches.clear();
    }

    void Read() {
        alignas(inotify_event) char buffer[64 * 1024];
        pollfd fds[2] = {{FFd, POLLIN, 0}, {FStop, POLLIN, 0}};
        for (;;) {
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if ((fds[1].revents & POLLIN) != 0) return;
            const ssize_t got = read(FFd, buffer, sizeof buffer);
            if (got <= 0) continue;
            std::lock_guard table(FTableLock);
            for (std::size_t at = 0; at + sizeof(inotify_event) <= static_cast<std::size_t>(got);) {
                inotify_event event;
                std::memcpy(&event, buffer + at, sizeof event);
                const std::size_t end = at + sizeof event + event.len;
                if (end > static_cast<std::size_t>(got)) break;
                const char* name = buffer + at + sizeof event;
                Dispatch(event, std::string(name, strnlen(name, event.len)));
                at = end;
            }
        }
    }

    // Under the table lock.
    void Dispatch(const inotify_event& event, const std::string& name) {
        if ((event.mask & IN_Q_OVERFLOW) != 0) {
            // Events were lost: every monitor looks again.
            for (const auto& [watch, subs] : FWatches)
                for (TSubscription* sub : subs) sub->Events->Raise(evChange);
            return;
        }
        const auto at = FWatches.find(event.wd);
        if (at == FWatches.end()) return;
        for (TSubscription* sub : at->second) {
            if (!name.empty() && (event.mask & kSelfEvents) == 0 &&
                std::any_of(sub->Ignored->begin(), sub->Ignored->end(),
                            [&](const std::string& prefix) { return name.starts_with(prefix); }))
                continue;
            if (Concerns(sub->Filter, event.mask)) sub->Events->Raise(evChange);
        }
        if ((event.mask & IN_IGNORED) != 0) {
            // The system dropped the watch (the folder was removed or unmounted).
            for (TSubscription* sub : at->second) sub->Watch = -1;
            FWatches.erase(at);
        }
    }

    std::mutex FLifeLock;   // starting and stopping, adding and removing
    std::mutex FTableLock;  // the watches, shared with the reader
    int FUsers = 0;
    int FFd = -1;
    int FStop = -1;
    std::thread FReader;
    std::map<int, std::vector<TSubscription*>> FWatches;
};

}  // namespace

// The monitor's events and its share of the notification instance, held from construction
// on.
struct TDiscMonitorThread::TWatch {
    TEvents Events;
    TSubscription Sub;
    bool Added = false;
    ~TWatch() {
        if (Added) TNotifier::Instance().Remove(Sub);
    }
};

TDiscMonitorThread::TDiscMonitorThread(TMonitoredNode* node, const std::string& path,
                                       std::uint32_t filter, std::vector<std::string> ignoredNames)
    : Node(node),
      Path(path),
      IgnoredNames(std::move(ignoredNames)),
      FWatch(std::make_unique<TWatch>()),
      FFilter(filter) {
    Watcher = true;
    FWatch->Sub.Events = &FWatch->Events;
    FWatch->Sub.Filter = filter;
    FWatch->Sub.Ignored = &IgnoredNames;
    // A folder that cannot be watched ends the thread as soon as it runs.
    FWatch->Added = TNotifier::Instance().Add(FWatch->Sub, Path);
}

TDiscMonitorThread::~TDiscMonitorThread() {
    FWatch->Events.Raise(evStop);
    StopAndWait();
}

void TDiscMonitorThread::SetFilter(std::uint32_t value) {
    if (FFilter.exchange(value) != value) FWatch->Events.Raise(evFilter);
}

void TDiscMonitorThread::Execute() {
    TEvents& events = FWatch->Events;
    // Terminate (also the program's end of all threads) ends the wait.
    const std::stop_callback wake(StopToken(), [&events] { events.Raise(evStop); });
    if (!FWatch->Added) {
        FFailed = true;
        return;
    }
    TNotifier& notifier = TNotifier::Instance();
    TSubscription& sub = FWatch->Sub;
    while (!Terminated()) {
        const std::uint32_t raised = events.Wait();
        if ((raised & evStop) != 0) break;
        if ((raised & evFilter) != 0 && !notifier.Refilter(sub, Path, FFilter.load())) {
            FFailed = true;
            break;
        }
        // Changes that come while the report runs raise the event again: one more report.
        if ((raised & evChange) != 0) {
            Synchronize([this] {
                if (!Terminated() && Node != nullptr) Node->FolderChanged(*this);
            });
        }
    }
}

}  // namespace pix
