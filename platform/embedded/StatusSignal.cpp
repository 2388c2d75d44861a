// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/StatusSignal.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "platform/embedded/StoreFile.h"

namespace vxm::platform {

namespace {

// A signal closes the file it opened for writing; the store file is removed,
// renamed or made. SQLite keeps its own files open, so their writes wake no one.
constexpr std::uint32_t kFolderEvents =
    IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR;

constexpr std::chrono::milliseconds kRearmRetry{250};

}  // namespace

StatusSignal::~StatusSignal() {
    watch_.reset();
    if (inotify_ >= 0) {
        ::close(inotify_);
    }
}

void StatusSignal::open(const std::string& storePath) {
    if (!path_.empty()) {
        return;  // named once: the watch reads the folder without a lock
    }
    path_ = storePath + "-events";
}

void StatusSignal::raise() const {
    try {
        ::close(openFileBesideStore(path_, O_WRONLY | O_CREAT));
    } catch (const Failure&) {
    }
}

void StatusSignal::watch(MainQueue& queue, std::function<void()> onSignal) {
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) {
        throw std::system_error(errno, std::generic_category(), "inotify");
    }
    folder_ = path_.substr(0, std::max<std::size_t>(path_.rfind('/'), 1));
    try {
        arm();
    } catch (const std::system_error&) {
        ::close(inotify_);
        inotify_ = -1;
        throw;
    }
    onSignal_ = std::move(onSignal);
    queue_ = &queue;
    watch_ = queue.watchReadable(inotify_, [this] { drainNotifications(); });
}

// The watch goes with the first event it reports (IN_ONESHOT), so that the
// kernel is already tearing it down while the process acts on the event: a
// process that ends with a watch in place waits at exit for the kernel to
// free it, 10 ms and more, which would come on top of every wait's wake-up.
void StatusSignal::arm() {
    if (::inotify_add_watch(inotify_, folder_.c_str(), kFolderEvents | IN_ONESHOT) < 0) {
        throw std::system_error(errno, std::generic_category(), folder_);
    }
}

// Every event counts, whichever file of the folder it names: the watch reports
// one alone, and the observers read the statuses to learn what changed.
void StatusSignal::drainNotifications() {
    alignas(inotify_event) char buffer[4096];
    bool any = false;
    while (::read(inotify_, buffer, sizeof buffer) > 0) {
        any = true;
    }
    if (!any) {
        return;
    }
    onSignal_();  // may end the process, with no watch left to free
    rearm();
}

// Watches again, then hears once more whatever came between the event and the
// new watch. When the folder cannot be watched now (gone, or a limit reached),
// tries again a little later: a watcher never sleeps without a watch.
void StatusSignal::rearm() {
    try {
        arm();
    } catch (const std::system_error&) {
        queue_->asyncAfter(kRearmRetry, [this] { rearm(); });
    }
    onSignal_();
}

}  // namespace vxm::platform
