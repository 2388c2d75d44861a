// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <system_error>

namespace vxm::platform {

// The process's main queue: work items run one at a time, in the order they
// were queued, on the thread that runs the loop.
class MainQueue {
public:
    using Work = std::function<void()>;

    // Keeps a descriptor watched while it lives. Destroy it on the main
    // thread, or once the loop has stopped.
    class Watch {
    public:
        virtual ~Watch() = default;

        // Runs `onWritable` once on the main thread, when the descriptor can
        // be written (for a writer with more to send than it could), unless
        // the watch is gone by then. Throws std::system_error where the queue
        // cannot wait for that.
        // NOLINTNEXTLINE(performance-unnecessary-value-param): overrides keep it
        virtual void onceWritable(std::function<void()> /*onWritable*/) {
            throw std::system_error(std::make_error_code(std::errc::operation_not_supported),
                                    "waiting for a descriptor to be writable");
        }
    };

    virtual ~MainQueue() = default;

    // Queues work to run on the main thread. Safe to call from any thread.
    virtual void async(Work work) = 0;

    // Queues work to run on the main thread once, no earlier than `delay`
    // from now. Safe to call from any thread.
    virtual void asyncAfter(std::chrono::milliseconds delay, Work work) = 0;

    // Runs `onReadable` on the main thread each time `fd` is readable, until
    // the returned watch is destroyed. The callback must consume what it
    // reads (or the descriptor stays readable and the callback runs again).
    // Does not take ownership of `fd`, which must outlive the watch. Throws
    // std::system_error for a descriptor that cannot be watched.
    [[nodiscard]] virtual std::unique_ptr<Watch> watchReadable(int fd, std::function<void()> onReadable) = 0;

    // Runs the loop on the calling thread, which becomes the main thread.
    // The real loop returns only if nothing can ever be queued again.
    virtual void run() = 0;
};

}  // namespace vxm::platform
