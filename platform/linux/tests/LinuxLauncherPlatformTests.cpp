#include "platform/linux/LinuxLauncherPlatform.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake/FakeMainQueue.h"

namespace vxm::platform {
namespace {

using namespace std::chrono_literals;

TEST(BundlePathTest, FolderAboveContentsMacOSOrElseTheExecutablesFolder) {
    EXPECT_EQ(bundlePathForExecutable("/Applications/X.app/Contents/MacOS/vxm-launcher"), "/Applications/X.app");
    EXPECT_EQ(bundlePathForExecutable("/home/ana/My Apps/V ü.app/Contents/MacOS/l"), "/home/ana/My Apps/V ü.app");
    EXPECT_EQ(bundlePathForExecutable("/opt/vexomi/bin/vxm-launcher"), "/opt/vexomi/bin");
    EXPECT_EQ(bundlePathForExecutable("/a/XContents/MacOS/l"), "/a/XContents/MacOS");
    EXPECT_EQ(bundlePathForExecutable("/a/contents/macos/l"), "/a/contents/macos");
    EXPECT_EQ(bundlePathForExecutable("/a/Contents/MacOS/sub/l"), "/a/Contents/MacOS/sub");
    EXPECT_EQ(bundlePathForExecutable("/Contents/MacOS/l"), "/");
    EXPECT_EQ(bundlePathForExecutable("/l"), "/");
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

// Sets an environment variable for one test, restoring it afterwards. Tests
// run on one thread, so changing the environment is safe here.
// NOLINTBEGIN(concurrency-mt-unsafe)
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// NOLINTEND(concurrency-mt-unsafe)

TEST(LinuxLaunchEnvironmentTest, HomeComesFromHOMEElseTheUserDatabase) {
    const LinuxLaunchEnvironment environment;
    {
        const ScopedEnvironment home("HOME", "/home/ana maría");
        EXPECT_EQ(environment.homeDirectory(), "/home/ana maría");
    }
    const passwd* user = ::getpwuid(::getuid());  // NOLINT(concurrency-mt-unsafe)
    if (user == nullptr) {
        GTEST_SKIP() << "this user has no entry in the user database";
    }
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        const ScopedEnvironment home("HOME", value);
        EXPECT_EQ(environment.homeDirectory(), user->pw_dir);
    }
}

}  // namespace
}  // namespace vxm::platform
