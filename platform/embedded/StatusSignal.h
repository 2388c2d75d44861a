// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/MainQueue.h"

namespace vxm::platform {

// The file beside a store through which processes tell each other that a
// configuration's status changed: a process that has committed a change
// opens it for writing and closes it, which inotify reports to every process
// watching the store's folder, asleep in the kernel until then. Its content
// is nothing, and nothing reads it: anyone who may write the folder can
// truncate, replace or delete it at any moment, which wakes the watchers at
// worst, and the next signal makes it again.
class StatusSignal {
public:
    StatusSignal() = default;
    ~StatusSignal();
    StatusSignal(const StatusSignal&) = delete;
    StatusSignal& operator=(const StatusSignal&) = delete;

    // Names the file beside the store at `storePath`, which must have its
    // folder resolved (see openStoreFile): every process that reaches the
    // store by any path then uses the same file. Only the first call counts.
    // Call it with the store's lock held, as every other call but watch's
    // notifications, which only read what this set.
    void open(const std::string& storePath);

    // Tells every process watching the store that a status changed; makes
    // the file owner-only when missing. A failure is dropped: the change
    // itself is already in the store.
    void raise() const;

    // Runs `onSignal` on the main queue after signals (several close
    // together may share one run), and when the store file itself is
    // removed, replaced or made. Call once, after open(). Throws
    // std::system_error when inotify cannot be had (a limit reached).
    void watch(MainQueue& queue, std::function<void()> onSignal);

private:
    void arm();
    void rearm();
    void drainNotifications();

    std::string path_;
    std::string folder_;
    std::string storeName_;
    std::string name_;
    int inotify_ = -1;
    std::function<void()> onSignal_;
    MainQueue* queue_ = nullptr;
    std::unique_ptr<MainQueue::Watch> watch_;
};

}  // namespace vxm::platform
