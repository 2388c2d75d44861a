#include "platform/linux/LinuxLauncherPlatform.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/fake/FakeMainQueue.h"

namespace vxm::platform {
namespace {

using namespace std::chrono_literals;

TEST(AgentPathTest, VxmBesideTheExecutable) {
    EXPECT_EQ(agentPathForExecutable("/Applications/X.app/Contents/MacOS/vxm-launcher"),
              "/Applications/X.app/Contents/MacOS/vxm");
    EXPECT_EQ(agentPathForExecutable("/usr/libexec/vexomi/vxm-launcher"), "/usr/libexec/vexomi/vxm");
    EXPECT_EQ(agentPathForExecutable("/home/ana/My Apps/V ü/l"), "/home/ana/My Apps/V ü/vxm");
    EXPECT_EQ(agentPathForExecutable("/l"), "/vxm");
    EXPECT_EQ(agentPathForExecutable("vxm-launcher"), "") << "never the working folder's vxm";
}

TEST(LinuxLaunchEnvironmentTest, AgentBesideThisProcessAndTheUsersSystemdUnit) {
    const LinuxLaunchEnvironment environment;
    std::string self(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size());
    ASSERT_GT(length, 0);
    self.resize(static_cast<std::size_t>(length));
    EXPECT_EQ(environment.agentPath(), self.substr(0, self.rfind('/')) + "/vxm");
    EXPECT_EQ(environment.launchAgentStart("org.example.c"),
              (Command{"/usr/bin/systemctl", {"--user", "start", "org.example.c.service"}}));
}

// Records the launch notifications and the open-documents events it gets.
class RecordingDelegate : public ApplicationDelegate {
public:
    RecordingDelegate(MainQueue& queue, AppleEventManager& events) : queue_(queue), events_(events) {}

    std::vector<std::string> seen;

    void applicationWillFinishLaunching() override {
        seen.push_back("will");
        events_.setEventHandler(
            [this](const AppleEventDescriptor& event, const AppleEventDescriptor& reply) {
                std::string line = "open";
                const auto list = event.paramDescriptor(keyDirectObject);
                for (std::int64_t index = 1; index <= list->numberOfItems(); ++index) {
                    const auto item = list->descriptorAtIndex(index);
                    line += " " + item->fileURLPath().value_or("[" + item->stringValue().value_or("") + "]");
                }
                seen.push_back(line);
                EXPECT_EQ(reply.paramDescriptor(keyDirectObject), nullptr);
            },
            kCoreEventClass, kAEOpenDocuments);
    }

    void applicationDidFinishLaunching() override {
        seen.push_back("did");
        queue_.asyncAfter(500ms, [this] { seen.push_back("check"); });
    }

private:
    MainQueue& queue_;
    AppleEventManager& events_;
};

TEST(LinuxApplicationTest, CommandLineDocumentsArriveAsOneEventAfterLaunchingAndBeforeTheCheck) {
    FakeMainQueue queue;
    LinuxAppleEventManager events;
    LinuxApplication application(queue, events, {"/tmp/a b.vxm", "file:///tmp/c%20d.vxm"});
    RecordingDelegate delegate(queue, events);
    application.setDelegate(&delegate);
    application.run();
    EXPECT_EQ(delegate.seen, (std::vector<std::string>{"will", "did", "open [/tmp/a b.vxm] /tmp/c d.vxm", "check"}));
}

TEST(LinuxApplicationTest, WithoutDocumentsNoEventComes) {
    FakeMainQueue queue;
    LinuxAppleEventManager events;
    LinuxApplication application(queue, events, {});
    RecordingDelegate delegate(queue, events);
    application.setDelegate(&delegate);
    application.run();
    EXPECT_EQ(delegate.seen, (std::vector<std::string>{"will", "did", "check"}));
}

}  // namespace
}  // namespace vxm::platform
