// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/MainQueue.h"

namespace vxm::platform {

// The file beside a store through which processes tell each other that a
// status changed: a process that committed a change opens it for writing and
// closes it, which inotify reports to every process watching the folder.
// Nothing reads its content: replacing or deleting it wakes the watchers at
// worst, and the next signal makes it again.
class StatusSignal {
public:
    StatusSignal() = default;
    ~StatusSignal();
    StatusSignal(const StatusSignal&) = delete;
    StatusSignal& operator=(const StatusSignal&) = delete;

    // Names the file beside the store at `storePath`, its folder resolved
    // (see openStoreFile) so that every process uses the same file. Only the
    // first call counts. Call it, as raise and watch, with the store's lock held.
    void open(const std::string& storePath);

    // Tells every watcher that a status changed. A failure is dropped: the
    // change itself is already in the store.
    void raise() const;

    // Runs `onSignal` on the main queue after signals, and when the store
    // file is removed, replaced or made (and at times after other files of
    // the folder change: it must read what it needs). Call once, after
    // open(). Throws
    // std::system_error when inotify cannot be had (a limit reached).
    void watch(MainQueue& queue, std::function<void()> onSignal);

private:
    void arm();
    void rearm();
    void drainNotifications();

    std::string path_;
    std::string folder_;
    int inotify_ = -1;
    std::function<void()> onSignal_;
    MainQueue* queue_ = nullptr;
    std::unique_ptr<MainQueue::Watch> watch_;
};

}  // namespace vxm::platform
