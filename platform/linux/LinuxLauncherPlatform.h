#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/AppleEvent.h"
#include "platform/Application.h"
#include "platform/LaunchEnvironment.h"
#include "platform/MainQueue.h"

namespace vxm::platform {

// The bundle folder of an executable: X when the executable lies in
// "X/Contents/MacOS/", otherwise the executable's own folder.
std::string bundlePathForExecutable(std::string_view executablePath);

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
// line: when there are any, one open-documents event listing them in order is
// queued on the main queue once the delegate has been told that launching
// will finish, before it is told that launching did finish. With none, no
// event ever comes.
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

// The bundle comes from the path of the running executable (/proc/self/exe),
// the user from getuid, the home folder from $HOME or else the user database.
class LinuxLaunchEnvironment : public LaunchEnvironment {
public:
    std::string bundlePath() const override;
    std::uint32_t userID() const override;
    std::string homeDirectory() const override;
};

}  // namespace vxm::platform
