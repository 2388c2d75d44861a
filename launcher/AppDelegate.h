// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AppleEvent.h"
#include "platform/Application.h"
#include "platform/ChildProcess.h"
#include "platform/LaunchEnvironment.h"
#include "platform/MainQueue.h"

namespace vxm::launcher {

// The client's reverse-DNS identifier, chosen when the project is configured.
extern const std::string_view kAppIdentifier;

// The platform services the launcher works through. They outlive the delegate.
struct LauncherPlatform {
    platform::Application& application;
    platform::AppleEventManager& appleEventManager;
    platform::MainQueue& mainQueue;
    platform::ChildProcesses& childProcesses;
    platform::LaunchEnvironment& environment;
};

// The launcher's application delegate. It hands every ".vxm" document of an
// open-documents event to the client's agent, one run at a time; when no such
// event has come half a second after launching finished, it has the service
// manager start the client's launch agent instead. Either way it then terminates the
// application. It writes nothing anywhere and drops every failure.
// Everything runs on the main thread. Create it with std::make_shared: the
// launch check keeps it alive until it has run.
class AppDelegate : public platform::ApplicationDelegate, public std::enable_shared_from_this<AppDelegate> {
public:
    explicit AppDelegate(LauncherPlatform platform) : platform_(platform) {}

    // True from the moment an open-documents event is handled.
    [[nodiscard]] bool opened() const { return opened_; }
    void setOpened(bool opened) { opened_ = opened; }

    // Registers handleOpen for the open-documents event.
    void applicationWillFinishLaunching() override;

    // Runs the agent for each ".vxm" document of the event, in list order,
    // each run to its end before the next starts; then terminates. The reply
    // is left untouched.
    void handleOpen(const platform::AppleEventDescriptor& event, const platform::AppleEventDescriptor& reply);

    // Schedules the launch check half a second from now.
    void applicationDidFinishLaunching() override;

    // Has the service manager start the client's launch agent (on macOS a
    // bootstrap by launchctl); returns once the service manager has exited.
    void startService();

private:
    void launchCheck();
    void runToExit(const std::string& executablePath, const std::vector<std::string>& arguments);

    LauncherPlatform platform_;
    bool opened_ = false;
};

// The one delegate of the process, set by main and held until the process
// ends, since the application does not own its delegate.
extern std::shared_ptr<AppDelegate> delegate;

}  // namespace vxm::launcher
