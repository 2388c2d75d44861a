#include "platform/linux/StatusSignal.h"

#include <atomic>
#include <cerrno>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vxm::platform {

namespace {

// The counter, then the byte that writers write to wake inotify watches.
constexpr std::size_t kCounterSize = sizeof(std::uint64_t);
constexpr std::size_t kFileSize = kCounterSize + 1;
static_assert(std::atomic_ref<std::uint64_t>::is_always_lock_free, "the counter is shared between processes");

constexpr std::uint32_t kWatchedEvents = IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

StatusSignal::StatusSignal(std::string path) : path_(std::move(path)) {}

StatusSignal::~StatusSignal() {
    watch_.reset();
    if (inotify_ >= 0) {
        ::close(inotify_);
    }
    if (counter_ != nullptr) {
        ::munmap(counter_, kFileSize);
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void StatusSignal::open() {
    const std::lock_guard lock(mutex_);
    openLocked();
}

void StatusSignal::openLocked() {
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), path_);
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        throw std::system_error(error, std::generic_category(), path_);
    }
    // The mode given to open is narrowed by the umask; set it whole.
    if ((status.st_mode & 07777) != 0600) {
        ::fchmod(fd, 0600);
    }
    // Only a new file grows, and every process grows it to the same size.
    if (status.st_size < static_cast<off_t>(kFileSize) && ::ftruncate(fd, kFileSize) != 0) {
        const int error = errno;
        ::close(fd);
        throw std::system_error(error, std::generic_category(), path_);
    }
    void* mapping = ::mmap(nullptr, kFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED) {
        const int error = errno;
        ::close(fd);
        throw std::system_error(error, std::generic_category(), path_);
    }
    if (counter_ != nullptr) {
        ::munmap(counter_, kFileSize);
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
    counter_ = static_cast<std::uint64_t*>(mapping);
}

// Someone removed or replaced the file: follow the path again, or signals
// would go to a file that no other process looks at.
void StatusSignal::reopenIfRemovedLocked() {
    struct stat status {};
    if (fd_ >= 0 && ::fstat(fd_, &status) == 0 && status.st_nlink > 0) {
        return;
    }
    try {
        openLocked();
    } catch (const std::system_error&) {
        // Kept as it was; stamps report the failure.
    }
}

void StatusSignal::raise() {
    const std::lock_guard lock(mutex_);
    reopenIfRemovedLocked();
    if (counter_ == nullptr) {
        return;
    }
    std::atomic_ref<std::uint64_t>(*counter_).fetch_add(1);
    // Changes made through the mapping alone reach no inotify watch.
    [[maybe_unused]] const ssize_t written = ::pwrite(fd_, "\n", 1, kCounterSize);
}

std::int64_t StatusSignal::stamp() {
    const std::lock_guard lock(mutex_);
    if (counter_ == nullptr) {
        return --failedStamps_;
    }
    return static_cast<std::int64_t>(std::atomic_ref<std::uint64_t>(*counter_).load());
}

void StatusSignal::watch(AsioMainQueue& queue, std::function<void()> onSignal) {
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) {
        throw std::system_error(errno, std::generic_category(), "inotify");
    }
    if (::inotify_add_watch(inotify_, path_.c_str(), kWatchedEvents) < 0) {
        throw std::system_error(errno, std::generic_category(), path_);
    }
    onSignal_ = std::move(onSignal);
    watch_ = queue.watchReadable(inotify_, [this] { drainNotifications(); });
}

void StatusSignal::drainNotifications() {
    alignas(inotify_event) char buffer[4096];
    bool fileGone = false;
    for (;;) {
        const ssize_t got = ::read(inotify_, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        for (ssize_t offset = 0; offset < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            fileGone = fileGone || (event->mask & (IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0;
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (fileGone) {
        // Watch whatever file now stands at the path (the same one after a
        // mere change of mode: adding it again changes nothing).
        {
            const std::lock_guard lock(mutex_);
            reopenIfRemovedLocked();
        }
        ::inotify_add_watch(inotify_, path_.c_str(), kWatchedEvents);
    }
    onSignal_();
}

}  // namespace vxm::platform
