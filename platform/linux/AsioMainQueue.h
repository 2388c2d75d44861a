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
    // Throws std::system_error when the loop's file descriptors cannot be made.
    AsioMainQueue();
    ~AsioMainQueue() override;
    AsioMainQueue(const AsioMainQueue&) = delete;
    AsioMainQueue& operator=(const AsioMainQueue&) = delete;

    void async(Work work) override;
    void asyncAfter(std::chrono::milliseconds delay, Work work) override;
    void run() override;
    [[nodiscard]] std::unique_ptr<Watch> watchReadable(int fd, std::function<void()> onReadable) override;

    // Makes run() return as soon as the work item in progress ends; work
    // still queued never runs. Safe from any thread. For tests and embedders.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vxm::platform
