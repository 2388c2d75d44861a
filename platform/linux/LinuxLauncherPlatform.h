// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/AppleEvent.h"
#include "platform/Application.h"
#include "platform/LaunchEnvironment.h"
#include "platform/MainQueue.h"

namespace vxm::platform {

// The client's agent for a launcher at `executablePath`: "vxm" in the same
// folder (in a bundle-shaped folder "X/Contents/MacOS/", that is the bundle's
// agent). Empty for a path without a folder, so that nothing is run from
// wherever the launcher happens to be started.
std::string agentPathForExecutable(std::string_view executablePath);

// The launcher's main queue: work waits in a list under a mutex and the loop
// sleeps on a condition variable until the first item comes due. It makes no
// file descriptor, so a launcher out of them still hands its documents over.
// run() never returns: the launcher ends through Application::terminate.
class LauncherMainQueue final : public MainQueue {
public:
    void async(Work work) override { asyncAfter(std::chrono::milliseconds{0}, std::move(work)); }
    void asyncAfter(std::chrono::milliseconds delay, Work work) override;
    // The launcher watches no descriptor: throws std::system_error.
    [[nodiscard]] std::unique_ptr<Watch> watchReadable(int fd, std::function<void()> onReadable) override;
    void run() override;

private:
    std::mutex mutex_;
    std::condition_variable queued_;
    // By the time each comes due; equal times in queuing order.
    std::multimap<std::chrono::steady_clock::time_point, Work> pending_;
};

// Hands events to the handler registered for their class and identifier.
class LinuxAppleEventManager : public AppleEventManager {
public:
    void setEventHandler(Handler handler, FourCharCode eventClass, FourCharCode eventID) override;

    // Calls the handler registered for the class and identifier; an event
    // nobody registered for is dropped.
    void dispatch(FourCharCode eventClass, FourCharCode eventID, const AppleEventDescriptor& event,
                  const AppleEventDescriptor& reply) const;

private:
    std::map<std::pair<FourCharCode, FourCharCode>, Handler> handlers_;
};

// The launcher's application on this machine. Documents come on the command
// line: when there are any, one open-documents event listing them in order
// (relative paths taken from the working folder) is queued on the main queue
// once the delegate has been told that launching will finish, before it is
// told that launching did finish. With none, no event ever comes.
class LinuxApplication : public Application {
public:
    LinuxApplication(MainQueue& mainQueue, LinuxAppleEventManager& events, std::vector<std::string> documents)
        : mainQueue_(mainQueue), events_(events), documents_(std::move(documents)) {}

    void setDelegate(ApplicationDelegate* delegate) override { delegate_ = delegate; }
    void run() override;

    // Ends the process at once with status 0. The launcher writes nothing, so
    // there is nothing to flush, and no static destructor runs while the main
    // loop is still on the stack.
    [[noreturn]] void terminate() override;

private:
    MainQueue& mainQueue_;
    LinuxAppleEventManager& events_;
    std::vector<std::string> documents_;
    ApplicationDelegate* delegate_ = nullptr;
};

// The agent lies beside the running executable (/proc/self/exe), where the
// package installs both; the launch agent is the user's systemd unit
// "<identifier>.service", started with `systemctl --user start`.
class LinuxLaunchEnvironment : public LaunchEnvironment {
public:
    std::string agentPath() const override;
    Command launchAgentStart(std::string_view appIdentifier) const override;
};

}  // namespace vxm::platform
