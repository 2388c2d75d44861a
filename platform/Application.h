// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace vxm::platform {

// Receives the application's launch notifications, on the main thread.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;

    virtual void applicationWillFinishLaunching() = 0;
    virtual void applicationDidFinishLaunching() = 0;
};

// The process's application object: its delegate, main loop and termination.
class Application {
public:
    virtual ~Application() = default;

    // The application does not own its delegate; it must outlive the run.
    virtual void setDelegate(ApplicationDelegate* delegate) = 0;

    // Runs the main loop on the calling thread: tells the delegate that
    // launching will finish and then that it did, then delivers events and
    // queued main-queue work. Returns only if the loop ever ends.
    virtual void run() = 0;

    // Ends the application, and with it the process, the normal way. The real
    // one never returns; a fake records the call and returns, so callers
    // return right after it.
    virtual void terminate() = 0;
};

}  // namespace vxm::platform
