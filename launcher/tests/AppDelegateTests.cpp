// SPDX-License-Identifier: Apache-2.0
#include "launcher/AppDelegate.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake/FakeMainQueue.h"

namespace vxm::launcher {
namespace {

using namespace std::chrono_literals;
using namespace platform;

static_assert(kAEOpenDocuments == 0x6F646F63U && fourCharCode("\xFF\x80\x01\x7F") == 0xFF80017FU);

// An event, a list or one item: "text:<path>" is a string item, "other" an
// item of neither kind, "missing" no item at all, anything else a file URL.
struct Descriptor : AppleEventDescriptor {
    Ref direct;
    std::vector<Ref> items;
    std::optional<std::string> url, text;

    Ref paramDescriptor(FourCharCode key) const override { return key == keyDirectObject ? direct : nullptr; }
    std::int64_t numberOfItems() const override { return static_cast<std::int64_t>(items.size()); }
    Ref descriptorAtIndex(std::int64_t i) const override { return items.at(static_cast<std::size_t>(i - 1)); }
    std::optional<std::string> fileURLPath() const override { return url; }
    std::optional<std::string> stringValue() const override { return text; }
};

constexpr auto kChildRuns = 300ms;

// The platform around the delegate, noting its effects in `journal`. A child
// runs for 300 ms of the queue's clock, during which the main queue goes on
// (a wait spins the run loop); terminating ends the queue for good.
struct FakePlatform : Application, AppleEventManager, ChildProcesses, LaunchEnvironment {
    FakeMainQueue queue;
    Handler handler;
    std::string journal, missing;

    void note(const std::string& line) { journal += (journal.empty() ? "" : "; ") + line; }
    void setDelegate(ApplicationDelegate* /*delegate*/) override {}
    void run() override {}
    void terminate() override {
        note("terminate");
        queue.stop();
    }
    void setEventHandler(Handler h, FourCharCode eventClass, FourCharCode eventID) override {
        if (eventClass == 0x61657674U && eventID == 0x6F646F63U) {
            handler = std::move(h);
        }
    }
    std::string agentPath() const override { return "vxm"; }
    Command launchAgentStart(std::string_view identifier) const override {
        EXPECT_EQ(identifier, kAppIdentifier);
        return {"launchctl", {"bootstrap"}};
    }
    struct Child : ChildProcess {
        FakePlatform& platform;
        explicit Child(FakePlatform& p) : platform(p) {}
        void waitUntilExit() override {
            platform.queue.advance(kChildRuns);
            platform.note("end");
        }
    };
    Result<std::unique_ptr<ChildProcess>> start(const std::string& path, const std::vector<std::string>& args) override {
        std::string line = path;
        for (const std::string& arg : args) {
            line += " " + arg;
        }
        note(line);
        if (path == missing) {
            return Error{"not found"};
        }
        return std::unique_ptr<ChildProcess>(std::make_unique<Child>(*this));
    }
};

constexpr int kNoEvent = -2, kBeforeDidFinish = -1;
const std::vector<std::string> kNoDirectObject = {"no direct object"};

struct Case {
    const char* name;
    int eventAtMs;  // after launching finished
    std::vector<std::string> documents;
    std::string expected;
    std::string missing;  // the executable that cannot start
};

const Case kCases[] = {
    {"plain launch", kNoEvent, {}, "launchctl bootstrap; end; terminate"},
    {"service manager missing", kNoEvent, {}, "launchctl bootstrap; terminate", "launchctl"},
    {"before did-finish", kBeforeDidFinish, {"/d/a.vxm"}, "vxm import /d/a.vxm; end; terminate"},
    {"last moment of the window", 499, {"/d/a.vxm"}, "vxm import /d/a.vxm; end; terminate"},
    {"after the window", 1000, {"/d/a.vxm"}, "launchctl bootstrap; end; terminate"},
    // The launch check comes due during the first import.
    {"in order, .vxm only", 300, {"/d/a.vxm", "/d/c.txt", "text:/d/b.vxm"},
     "vxm import /d/a.vxm; end; vxm import /d/b.vxm; end; terminate"},
    {"suffix in any ASCII case", 0,
     {"text:/d/B.VXM", "/d/e.Vxm", "/d/f.vxm.txt", "/d/gvxm", "/d/h.vxm ", "text:.vxm", "vx"},
     "vxm import /d/B.VXM; end; vxm import /d/e.Vxm; end; vxm import .vxm; end; terminate"},
    {"missing and other items skipped", 0, {"missing", "other", "text:/d/z.vxm"}, "vxm import /d/z.vxm; end; terminate"},
    {"agent missing, later items tried", 0, {"/d/a.vxm", "/d/b.vxm"},
     "vxm import /d/a.vxm; vxm import /d/b.vxm; terminate", "vxm"},
    {"no direct object", 0, kNoDirectObject, "terminate"},
    {"empty list", 0, {}, "terminate"},
};

TEST(AppDelegateTest, EventShapes) {
    for (const Case& c : kCases) {
        FakePlatform fake;
        fake.missing = c.missing;
        auto event = std::make_shared<Descriptor>();
        if (c.documents != kNoDirectObject) {
            auto list = std::make_shared<Descriptor>();
            for (const std::string& document : c.documents) {
                auto item = std::make_shared<Descriptor>();
                if (document.starts_with("text:")) {
                    item->text = document.substr(5);
                } else if (document != "other") {
                    item->url = document;
                }
                list->items.push_back(document == "missing" ? nullptr : item);
            }
            event->direct = list;
        }
        auto deliver = [&] { fake.handler(*event, Descriptor{}); };
        auto appDelegate = std::make_shared<AppDelegate>(LauncherPlatform{fake, fake, fake.queue, fake, fake});
        appDelegate->applicationWillFinishLaunching();
        if (c.eventAtMs == kBeforeDidFinish) {
            deliver();
        } else if (c.eventAtMs != kNoEvent) {
            fake.queue.asyncAfter(std::chrono::milliseconds(c.eventAtMs), deliver);
        }
        appDelegate->applicationDidFinishLaunching();
        fake.queue.advance(10s);
        EXPECT_EQ(fake.journal, c.expected) << c.name;
    }
}

}  // namespace
}  // namespace vxm::launcher
