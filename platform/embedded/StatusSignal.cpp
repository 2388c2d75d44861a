// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/StatusSignal.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string_view>
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

std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

StatusSignal::~StatusSignal() {
    watch_.reset();
    if (inotify_ >= 0) {
        ::close(inotify_);
    }
}

void StatusSignal::open(const std::string& storePath) {
    if (!path_.empty()) {
        return;  // named once: the watch reads the names without a lock
    }
    path_ = storePath + "-events";
    name_ = nameOf(path_);
    storeName_ = nameOf(storePath);
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
    const std::string folder = path_.substr(0, std::max<std::size_t>(path_.rfind('/'), 1));
    if (::inotify_add_watch(inotify_, folder.c_str(), kFolderEvents) < 0) {
        const int error = errno;
        ::close(inotify_);
        inotify_ = -1;
        throw std::system_error(error, std::generic_category(), folder);
    }
    onSignal_ = std::move(onSignal);
    watch_ = queue.watchReadable(inotify_, [this] { drainNotifications(); });
}

void StatusSignal::drainNotifications() {
    alignas(inotify_event) char buffer[4096];
    bool signalled = false;
    for (ssize_t got = 0; (got = ::read(inotify_, buffer, sizeof buffer)) > 0;) {
        for (ssize_t offset = 0; offset < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            const std::string_view name = event->len > 0 ? std::string_view(event->name) : std::string_view();
            signalled = signalled || (event->mask & IN_Q_OVERFLOW) != 0 || name == name_ ||
                        (name == storeName_ && (event->mask & IN_CLOSE_WRITE) == 0);
        }
    }
    if (signalled) {
        onSignal_();
    }
}

}  // namespace vxm::platform
