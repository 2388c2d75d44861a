// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/StatusSignal.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <optional>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/embedded/StoreFile.h"

namespace vxm::platform {

namespace {

constexpr std::size_t kCounterSize = sizeof(std::uint64_t);

// A stamp is the generation above the low bits of the count: counts 2^48
// apart would take centuries of signals.
constexpr int kCountBits = 48;
constexpr std::uint64_t kCountMask = (std::uint64_t{1} << kCountBits) - 1;
constexpr std::int64_t kGenerationMask = 0x7fff;

// How often stamp() looks whether the file at the path is still the open one.
constexpr std::int64_t kFollowIntervalNanoseconds = 10'000'000;

// Signals raised in this process, by any StatusSignal: a stamp read before
// the latest of them is not given again.
std::atomic<std::uint64_t> raisedInProcess{0};

// The coarse monotonic clock, in nanoseconds: it moves every few milliseconds
// and costs no system call.
std::int64_t coarseNow() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR;

// The file holds the count as its Gray code, in which consecutive counts
// differ in one bit: a read that overlaps a write, and so may take some bytes
// from before it and some from after, finds the count before or the count
// after, never a third.
std::uint64_t toGray(std::uint64_t count) { return count ^ (count >> 1); }

std::uint64_t fromGray(std::uint64_t gray) {
    for (int shift = 1; shift < 64; shift <<= 1) {
        gray ^= gray >> shift;
    }
    return gray;
}

// Where a new or lost counter starts: counts then differ from those of
// earlier files at the path, which other processes may have read.
std::uint64_t randomCount() {
    std::uint64_t count = 0;
    if (::getrandom(&count, sizeof count, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof count)) {
        count = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                (static_cast<std::uint64_t>(::getpid()) << 40);
    }
    return count;
}

// Holds the counter's bytes for one read-modify-write against every other
// process doing the same (an open file description lock, so threads of one
// process with one descriptor are serialised by the caller). Without locks on
// the file system, increments may at worst be lost to another at the same
// moment, which still changes the count.
class CounterLock {
public:
    explicit CounterLock(int fd) : fd_(fd) { locked_ = set(F_WRLCK); }
    ~CounterLock() {
        if (locked_) {
            set(F_UNLCK);
        }
    }
    CounterLock(const CounterLock&) = delete;
    CounterLock& operator=(const CounterLock&) = delete;

private:
    bool set(short type) const {
        struct flock range {};
        range.l_type = type;
        range.l_whence = SEEK_SET;
        range.l_len = kCounterSize;
        while (::fcntl(fd_, F_OFD_SETLKW, &range) != 0) {
            if (errno != EINTR) {
                return false;
            }
        }
        return true;
    }

    int fd_;
    bool locked_ = false;
};

std::optional<std::uint64_t> readGray(int fd) {
    std::uint64_t gray = 0;
    if (::pread(fd, &gray, kCounterSize, 0) != static_cast<ssize_t>(kCounterSize)) {
        return std::nullopt;
    }
    return gray;
}

bool writeCount(int fd, std::uint64_t count) {
    const std::uint64_t gray = toGray(count);
    return ::pwrite(fd, &gray, kCounterSize, 0) == static_cast<ssize_t>(kCounterSize);
}

// The count after a new or truncated file was found: a random start, unless
// another process set one meanwhile.
std::uint64_t freshCount(int fd) {
    const CounterLock lock(fd);
    if (const std::optional<std::uint64_t> gray = readGray(fd)) {
        return fromGray(*gray);
    }
    const std::uint64_t count = randomCount();
    writeCount(fd, count);
    return count;
}

std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

StatusSignal::~StatusSignal() {
    watch_.reset();
    if (inotify_ >= 0) {
        ::close(inotify_);
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void StatusSignal::open(const std::string& storePath) {
    const std::lock_guard lock(mutex_);
    path_ = storePath + "-events";
    name_ = nameOf(path_);
    storeName_ = nameOf(storePath);
    openLocked(true);
}

void StatusSignal::closeLocked() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (fileWatch_ >= 0) {
        ::inotify_rm_watch(inotify_, fileWatch_);
        fileWatch_ = -1;
    }
}

// Opens the file at the path in place of the one open; closes that one when
// there is none (and `create` is false). Throws StoreOpenError.
void StatusSignal::openLocked(bool create) {
    ++generation_;
    const int fd = openFileBesideStore(path_, O_RDWR | (create ? O_CREAT : 0));
    closeLocked();
    if (fd < 0) {
        return;
    }
    struct stat status {};
    ::fstat(fd, &status);
    fd_ = fd;
    identity_ = {status.st_dev, status.st_ino};
    if (status.st_size < static_cast<off_t>(kCounterSize)) {
        freshCount(fd_);
    }
    if (inotify_ >= 0) {
        watchFileLocked();
    }
}

// Follows the path when another file stands there, or none any more.
void StatusSignal::followPathLocked(bool create) {
    if (path_.empty()) {
        return;
    }
    lastFollowedAt_ = coarseNow();
    struct stat status {};
    const bool found = ::stat(path_.c_str(), &status) == 0;
    if (found && fd_ >= 0 && status.st_dev == identity_.device && status.st_ino == identity_.inode) {
        return;
    }
    if (!found && fd_ < 0 && !create) {
        return;  // still missing
    }
    try {
        openLocked(create);
    } catch (const Failure&) {
        // Nothing of ours stands there: stamps say so until something does.
        closeLocked();
    }
}

std::int64_t StatusSignal::failedStampLocked() { return --failedStamps_; }

std::int64_t StatusSignal::readLocked() {
    if (fd_ < 0) {
        return failedStampLocked();
    }
    std::optional<std::uint64_t> count;
    if (const std::optional<std::uint64_t> gray = readGray(fd_)) {
        count = fromGray(*gray);
    } else {
        // Truncated: counts as a change.
        ++generation_;
        count = freshCount(fd_);
    }
    return ((generation_ & kGenerationMask) << kCountBits) | static_cast<std::int64_t>(*count & kCountMask);
}

void StatusSignal::raise() {
    const std::lock_guard lock(mutex_);
    // Whoever watches a file at the path must hear of this: the one there
    // now, and one put there while this one was written.
    for (int attempt = 0; attempt < 2; ++attempt) {
        followPathLocked(true);
        if (fd_ < 0) {
            return;
        }
        {
            const CounterLock counterLock(fd_);
            std::uint64_t count = 0;
            if (const std::optional<std::uint64_t> gray = readGray(fd_)) {
                count = fromGray(*gray) + 1;
            } else {
                ++generation_;
                count = randomCount();
            }
            // The write itself wakes inotify watches (IN_MODIFY).
            writeCount(fd_, count);
        }
        raisedInProcess.fetch_add(1, std::memory_order_release);
        struct stat status {};
        if (::stat(path_.c_str(), &status) == 0 && status.st_dev == identity_.device &&
            status.st_ino == identity_.inode) {
            return;
        }
    }
}

std::int64_t StatusSignal::stamp() {
    const std::lock_guard lock(mutex_);
    const std::int64_t now = coarseNow();
    // Loaded before the file is read, so that a raise after it makes the next
    // call read again.
    const std::uint64_t raised = raisedInProcess.load(std::memory_order_acquire);
    if (now == lastReadAt_ && raised == raisedAtRead_ && fd_ >= 0) {
        return lastStamp_;
    }
    if (fd_ < 0 || now - lastFollowedAt_ >= kFollowIntervalNanoseconds) {
        followPathLocked(false);
    }
    lastStamp_ = readLocked();
    lastReadAt_ = lastStamp_ >= 0 ? now : -1;
    raisedAtRead_ = raised;
    return lastStamp_;
}

void StatusSignal::watchFileLocked() {
    const int added = ::inotify_add_watch(inotify_, path_.c_str(), IN_MODIFY);
    if (added != fileWatch_ && fileWatch_ >= 0) {
        ::inotify_rm_watch(inotify_, fileWatch_);
    }
    fileWatch_ = added;
}

void StatusSignal::watch(MainQueue& queue, std::function<void()> onSignal) {
    const int inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify < 0) {
        throw std::system_error(errno, std::generic_category(), "inotify");
    }
    {
        const std::lock_guard lock(mutex_);
        inotify_ = inotify;
        // The folder tells when the file is removed, renamed or made anew;
        // the file itself when it is written.
        if (::inotify_add_watch(inotify_, folderOf(path_).c_str(), kFolderEvents) < 0) {
            const int error = errno;
            ::close(inotify_);
            inotify_ = -1;
            throw std::system_error(error, std::generic_category(), folderOf(path_));
        }
        if (fd_ >= 0) {
            watchFileLocked();
            if (fileWatch_ < 0) {
                const int error = errno;
                ::close(inotify_);
                inotify_ = -1;
                throw std::system_error(error, std::generic_category(), path_);
            }
        }
    }
    onSignal_ = std::move(onSignal);
    watch_ = queue.watchReadable(inotify_, [this] { drainNotifications(); });
}

void StatusSignal::drainNotifications() {
    alignas(inotify_event) char buffer[4096];
    bool signalled = false;
    bool counterMoved = false;
    int fileWatch = -1;
    {
        const std::lock_guard lock(mutex_);
        fileWatch = fileWatch_;
    }
    for (;;) {
        const ssize_t got = ::read(inotify_, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        for (ssize_t offset = 0; offset < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                counterMoved = signalled = true;
            } else if (event->wd == fileWatch) {
                signalled = true;
            } else if (event->len > 0) {
                const std::string_view name(event->name);
                if (name == name_) {
                    counterMoved = signalled = true;
                } else if (name == storeName_) {
                    signalled = true;
                }
            }
        }
    }
    {
        const std::lock_guard lock(mutex_);
        // What the watch reported is read, however recent the last read.
        lastReadAt_ = -1;
        if (counterMoved) {
            followPathLocked(false);
        }
    }
    if (signalled) {
        onSignal_();
    }
}

}  // namespace vxm::platform
