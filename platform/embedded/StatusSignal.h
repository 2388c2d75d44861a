// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <sys/types.h>

#include "platform/MainQueue.h"

namespace vxm::platform {

// The file beside a store through which processes tell each other that a
// configuration's status changed. It holds a counter of the changes: a
// process that has committed a change increments it, which inotify reports to
// observers, which sleep in the kernel until then. A reader that finds the
// counter as it was knows that no change was signalled since, at the cost of
// one pread. Safe to use from any thread.
//
// Anyone who may write the folder can truncate, replace or delete the file at
// any moment. Nothing here is mapped into memory, so that costs no process its
// life; each of these counts as a change to whoever notices it, and the file
// at the path is opened again (made again by the next signal when missing).
class StatusSignal {
public:
    StatusSignal() = default;
    ~StatusSignal();
    StatusSignal(const StatusSignal&) = delete;
    StatusSignal& operator=(const StatusSignal&) = delete;

    // Opens the file beside the store at `storePath`, which must have its
    // folder resolved (see openStoreFile): every process that reaches the
    // store by any path then uses the same file. Creates it owner-only when
    // missing. Throws StoreOpenError, naming the path, when it cannot, or when
    // something else than a regular file of this user stands there.
    void open(const std::string& storePath);

    // Tells every process watching the file that a status changed. A failed
    // write is dropped: the change itself is already in the store.
    void raise();

    // A stamp of the signals so far: equal stamps mean that no signal came in
    // between. When the file cannot be read, a value never given before, so
    // that a caller comparing stamps reads afresh. Looks at most every 10 ms
    // whether the file at the path is still the one open, so that a replaced
    // file is followed even without a watch.
    //
    // Reading the file costs a system call, which would be most of the time
    // of a status read from the cache: a stamp read less than one tick of the
    // coarse clock ago (a few milliseconds) is given again, unless this
    // process raised a signal or the watch reported one since. To another
    // process, which learns of changes only through this file, that is as if
    // the call had come that much earlier.
    std::int64_t stamp();

    // Runs `onSignal` on the main queue after signals: once at least for each,
    // several close together may share one run; also when the counter file or
    // the store file itself is removed or replaced. Call once, after open().
    // Throws std::system_error when inotify cannot be had (a limit reached):
    // the caller then looks at stamp() from time to time instead.
    void watch(MainQueue& queue, std::function<void()> onSignal);

    // The counter file's path; empty before open().
    [[nodiscard]] const std::string& path() const { return path_; }

private:
    // What is known of the open file.
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
    };

    void openLocked(bool create);
    void closeLocked();
    void followPathLocked(bool create);
    std::int64_t readLocked();
    std::int64_t failedStampLocked();
    void watchFileLocked();
    void drainNotifications();

    std::string path_;
    std::string storeName_;
    std::string name_;
    std::mutex mutex_;  // guards everything below but the inotify descriptor and onSignal_
    int fd_ = -1;
    Identity identity_;
    // Counts the times the file was found damaged or another one opened: a
    // stamp taken after that differs from every stamp taken before it.
    std::int64_t generation_ = 0;
    std::int64_t failedStamps_ = 0;
    std::int64_t lastFollowedAt_ = 0;  // coarse clock, nanoseconds
    std::int64_t lastReadAt_ = -1;  // of lastStamp_; -1 to read at the next stamp()
    std::int64_t lastStamp_ = 0;
    std::uint64_t raisedAtRead_ = 0;
    int inotify_ = -1;
    int fileWatch_ = -1;
    std::function<void()> onSignal_;
    std::unique_ptr<MainQueue::Watch> watch_;
};

}  // namespace vxm::platform
