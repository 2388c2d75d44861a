// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "platform/Application.h"

namespace vxm::platform {

// The launcher's application: the shared NSApplication, whose delegate is an
// Objective-C object that forwards the launch notifications to the C++
// delegate. Everything runs on the main thread.
class MacApplication final : public Application {
public:
    MacApplication();
    ~MacApplication() override;
    MacApplication(const MacApplication&) = delete;
    MacApplication& operator=(const MacApplication&) = delete;

    // The application holds the delegate weakly: this object keeps the
    // forwarding object alive, and `delegate` must outlive the run.
    void setDelegate(ApplicationDelegate* delegate) override;

    // -[NSApplication run]: it sends applicationWillFinishLaunching: and
    // applicationDidFinishLaunching:, then serves events and the main queue.
    void run() override;

    // -[NSApplication terminate:], which ends the process with exit(3) after
    // the application's own termination work; never returns.
    [[noreturn]] void terminate() override;

private:
    struct Bridge;
    std::unique_ptr<Bridge> bridge_;
};

}  // namespace vxm::platform
