#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/linux/AsioMainQueue.h"

namespace vxm::platform {

// The file beside a store through which processes tell each other that a
// configuration's status changed. It holds a counter of the changes, mapped
// into every process that uses it: a process that has committed a change
// increments it, and then writes a byte after it so that inotify reports the
// change to observers, which sleep in the kernel until then. A reader that
// finds the counter as it was knows that no change was signalled since, at the
// cost of a memory read. Safe to use from any thread.
class StatusSignal {
public:
    explicit StatusSignal(std::string path);
    ~StatusSignal();
    StatusSignal(const StatusSignal&) = delete;
    StatusSignal& operator=(const StatusSignal&) = delete;

    // Opens the file, creating it owner-only when missing. Throws
    // std::system_error when it cannot.
    void open();

    // Tells every process watching the file that a status changed. A failed
    // write is dropped: the change itself is already in the store.
    void raise();

    // The count of signals so far. Without the file it is a value never given
    // before, so that a caller comparing stamps reads afresh.
    std::int64_t stamp();

    // Runs `onSignal` on the main queue after signals: once at least for each,
    // several close together may share one run. Call once, after open().
    void watch(AsioMainQueue& queue, std::function<void()> onSignal);

    [[nodiscard]] const std::string& path() const { return path_; }

private:
    void openLocked();
    void reopenIfRemovedLocked();
    void drainNotifications();

    std::string path_;
    std::mutex mutex_;  // guards fd_, counter_ and failedStamps_
    int fd_ = -1;
    std::uint64_t* counter_ = nullptr;  // in the shared mapping of the file
    int inotify_ = -1;
    std::int64_t failedStamps_ = 0;
    std::function<void()> onSignal_;
    std::unique_ptr<AsioMainQueue::Watch> watch_;
};

}  // namespace vxm::platform
