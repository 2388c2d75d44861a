// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <memory>

#include "platform/MainQueue.h"

namespace vxm::platform {

// The main dispatch queue. Work queued from any thread runs on the main
// thread while the application's loop runs there.
class MacMainQueue final : public MainQueue {
public:
    void async(Work work) override;
    void asyncAfter(std::chrono::milliseconds delay, Work work) override;
    // A read source of the descriptor on the main queue, cancelled when the
    // watch is destroyed.
    [[nodiscard]] std::unique_ptr<Watch> watchReadable(int fd, std::function<void()> onReadable) override;

    // The loop of a program without a window (the tool): the shared
    // NSApplication with the accessory activation policy (no Dock icon, no
    // menu bar), run; the tool ends through Process::exit before it would
    // return. The launcher runs its loop through MacApplication instead.
    void run() override;
};

}  // namespace vxm::platform
