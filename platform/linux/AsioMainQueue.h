// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "platform/MainQueue.h"

namespace vxm::platform {

// The process's main queue on a standalone Asio event loop. Work queued with
// async or asyncAfter, and the callbacks of file descriptor watches, all run
// on the thread inside run(), one at a time. run() returns only after stop():
// a process ends through Process::exit while the loop runs.
class AsioMainQueue final : public MainQueue {
public:
    // Keeps a file descriptor watched while it lives. Destroy it on the main
    // thread, or once the loop has stopped.
    class Watch {
    public:
        virtual ~Watch() = default;
    };

    // Throws std::system_error when the loop's file descriptors cannot be made.
    AsioMainQueue();
    ~AsioMainQueue() override;
    AsioMainQueue(const AsioMainQueue&) = delete;
    AsioMainQueue& operator=(const AsioMainQueue&) = delete;

    void async(Work work) override;
    void asyncAfter(std::chrono::milliseconds delay, Work work) override;
    void run() override;

    // Makes run() return as soon as the work item in progress ends; work
    // still queued never runs. Safe from any thread. For tests and embedders.
    void stop();

    // Runs `onReadable` on the main thread each time `fd` is readable, until
    // the returned watch is destroyed. The callback must consume what it
    // reads (or the descriptor stays readable and the callback runs again).
    // Does not take ownership of `fd`, which must outlive the watch.
    [[nodiscard]] std::unique_ptr<Watch> watchReadable(int fd, std::function<void()> onReadable);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vxm::platform
