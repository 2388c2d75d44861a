#include "launcher/AppDelegate.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/fake/FakeAppleEvent.h"
#include "platform/fake/FakeApplication.h"
#include "platform/fake/FakeChildProcesses.h"
#include "platform/fake/FakeJournal.h"
#include "platform/fake/FakeLaunchEnvironment.h"
#include "platform/fake/FakeMainQueue.h"

namespace vxm::launcher {
namespace {

using namespace std::chrono_literals;
using platform::FakeAppleEventDescriptor;
using Lines = std::vector<std::string>;
using Start = platform::FakeChildProcesses::Start;

const std::string kAgent = "/Applications/Vexomi.app/Contents/MacOS/vxm";

class AppDelegateTest : public ::testing::Test {
protected:
    platform::FakeJournal journal;
    platform::FakeApplication application{journal};
    platform::FakeAppleEventManager appleEvents{journal};
    platform::FakeMainQueue mainQueue;
    platform::FakeChildProcesses childProcesses{journal};
    platform::FakeLaunchEnvironment environment;
    std::shared_ptr<AppDelegate> appDelegate = std::make_shared<AppDelegate>(
        LauncherPlatform{application, appleEvents, mainQueue, childProcesses, environment});
    FakeAppleEventDescriptor reply;

    // Launching as the application's loop does it: will-finish, did-finish.
    void launch() {
        application.setDelegate(appDelegate.get());
        application.run();
    }

    // Delivers an open-documents event through the registered handler.
    void open(const FakeAppleEventDescriptor& event) {
        ASSERT_TRUE(appleEvents.deliver(0x61657674, 0x6F646F63, event, reply)) << "no open-documents handler";
    }

    void openDocuments(std::vector<platform::AppleEventDescriptor::Ref> items) {
        open(*FakeAppleEventDescriptor::openDocuments(FakeAppleEventDescriptor::list(std::move(items))));
    }

    // The journal past the launch ("run" and the handler registration).
    Lines effects() const { return Lines(journal.lines().begin() + 2, journal.lines().end()); }
};

TEST_F(AppDelegateTest, PlainLaunchStartsTheLaunchAgentAfterHalfASecondThenTerminates) {
    launch();
    mainQueue.advance(499ms);
    EXPECT_EQ(effects(), Lines{});

    mainQueue.advance(1ms);
    const std::string identifier(kAppIdentifier);
    EXPECT_EQ(childProcesses.starts(), std::vector<Start>({{"/bin/service-manager", {"start", identifier}, true}}));
    EXPECT_EQ(effects(), (Lines{"start /bin/service-manager start " + identifier, "waited /bin/service-manager",
                                "terminate"}));
    EXPECT_FALSE(appDelegate->opened());
}

TEST_F(AppDelegateTest, HandlerIsRegisteredAtWillFinishBeforeTheCheckIsScheduled) {
    appDelegate->applicationWillFinishLaunching();
    ASSERT_EQ(appleEvents.registrations().size(), 1U);
    EXPECT_EQ(appleEvents.registrations()[0].eventClass, 0x61657674U);
    EXPECT_EQ(appleEvents.registrations()[0].eventID, 0x6F646F63U);
    EXPECT_EQ(mainQueue.pendingCount(), 0U);

    appDelegate->applicationDidFinishLaunching();
    EXPECT_EQ(appleEvents.registrations().size(), 1U);
    EXPECT_EQ(mainQueue.pendingCount(), 1U);
}

TEST_F(AppDelegateTest, DocumentInsideTheWindowIsImportedAndTheCheckThenDoesNothing) {
    launch();
    mainQueue.advance(200ms);
    openDocuments({FakeAppleEventDescriptor::fileURLItem("/Users/a/b.vxm")});
    mainQueue.advance(2s);

    EXPECT_EQ(childProcesses.starts(), std::vector<Start>({{kAgent, {"import", "/Users/a/b.vxm"}, true}}));
    EXPECT_EQ(effects(), (Lines{"start " + kAgent + " import /Users/a/b.vxm", "waited " + kAgent, "terminate"}));
    EXPECT_TRUE(appDelegate->opened());
    EXPECT_EQ(mainQueue.pendingCount(), 0U);
}

TEST_F(AppDelegateTest, DocumentBeforeLaunchingFinishedAlsoSilencesTheCheck) {
    application.setDelegate(appDelegate.get());
    appDelegate->applicationWillFinishLaunching();
    openDocuments({FakeAppleEventDescriptor::stringItem("/Users/a/b.vxm")});
    appDelegate->applicationDidFinishLaunching();
    mainQueue.advance(1s);

    EXPECT_EQ(childProcesses.starts().size(), 1U);
    EXPECT_EQ(application.terminateCount(), 1);
}

TEST_F(AppDelegateTest, LaunchCheckKeepsTheDelegateAlive) {
    launch();
    std::weak_ptr<AppDelegate> weak = appDelegate;
    appDelegate.reset();
    EXPECT_FALSE(weak.expired());
    mainQueue.advance(500ms);
    EXPECT_EQ(childProcesses.starts().size(), 1U);
    EXPECT_EQ(application.terminateCount(), 1);
    EXPECT_TRUE(weak.expired()) << "the check lets go of the delegate once it has run";
}

TEST_F(AppDelegateTest, ImportsOnlyVxmDocumentsOneAfterAnother) {
    launch();
    openDocuments({FakeAppleEventDescriptor::fileURLItem("/d/a.vxm"), FakeAppleEventDescriptor::fileURLItem("/d/c.txt"),
                   FakeAppleEventDescriptor::fileURLItem("/d/d.vxm")});

    EXPECT_EQ(effects(), (Lines{"start " + kAgent + " import /d/a.vxm", "waited " + kAgent,
                                "start " + kAgent + " import /d/d.vxm", "waited " + kAgent, "terminate"}));
}

TEST_F(AppDelegateTest, SuffixTestIsExactAndCaseSensitive) {
    launch();
    openDocuments({FakeAppleEventDescriptor::stringItem("/d/B.VXM"), FakeAppleEventDescriptor::stringItem("/d/e.Vxm"),
                   FakeAppleEventDescriptor::stringItem("/d/f.vxm.txt"), FakeAppleEventDescriptor::stringItem("/d/gvxm"),
                   FakeAppleEventDescriptor::stringItem(".vxm"), FakeAppleEventDescriptor::stringItem("/d/h.vxm ")});

    EXPECT_EQ(childProcesses.starts(), std::vector<Start>({{kAgent, {"import", ".vxm"}, true}}));
}

TEST_F(AppDelegateTest, PathsReachTheAgentUnchangedAsOneArgument) {
    launch();
    auto both = FakeAppleEventDescriptor::fileURLItem("/d/from url.vxm");
    both->string = "file:///d/from%20url.vxm";
    openDocuments({FakeAppleEventDescriptor::fileURLItem("/Users/ana/My Docs/Zürich büro.vxm"),
                   FakeAppleEventDescriptor::stringItem("relative dir/naïve 東京 \"q\" $HOME.vxm"), both});

    EXPECT_EQ(childProcesses.starts(),
              std::vector<Start>({{kAgent, {"import", "/Users/ana/My Docs/Zürich büro.vxm"}, true},
                                  {kAgent, {"import", "relative dir/naïve 東京 \"q\" $HOME.vxm"}, true},
                                  {kAgent, {"import", "/d/from url.vxm"}, true}}));
}

TEST_F(AppDelegateTest, EventWithoutDirectObjectOnlyTerminates) {
    launch();
    open(*FakeAppleEventDescriptor::openDocuments(nullptr));
    mainQueue.advance(1s);
    EXPECT_EQ(effects(), Lines{"terminate"});
    EXPECT_TRUE(appDelegate->opened());
}

TEST_F(AppDelegateTest, EmptyListOnlyTerminates) {
    launch();
    openDocuments({});
    mainQueue.advance(1s);
    EXPECT_EQ(effects(), Lines{"terminate"});
}

TEST_F(AppDelegateTest, MissingItemsAndItemsOfOtherKindsAreSkipped) {
    launch();
    openDocuments({nullptr, FakeAppleEventDescriptor::otherItem(), FakeAppleEventDescriptor::stringItem("/d/last.vxm")});
    EXPECT_EQ(childProcesses.starts(), std::vector<Start>({{kAgent, {"import", "/d/last.vxm"}, true}}));
    EXPECT_EQ(application.terminateCount(), 1);
}

TEST_F(AppDelegateTest, AgentThatCannotStartIsDroppedAndLaterItemsAreStillTried) {
    childProcesses.missingExecutables = {kAgent};
    launch();
    openDocuments({FakeAppleEventDescriptor::stringItem("/d/a.vxm"), FakeAppleEventDescriptor::stringItem("/d/b.vxm")});
    EXPECT_EQ(effects(), (Lines{"cannot start " + kAgent, "cannot start " + kAgent, "terminate"}));
    EXPECT_EQ(childProcesses.waits(), 0);
}

TEST_F(AppDelegateTest, MissingServiceManagerStillEndsInTermination) {
    childProcesses.missingExecutables = {"/bin/service-manager"};
    launch();
    mainQueue.advance(500ms);
    EXPECT_EQ(effects(), (Lines{"cannot start /bin/service-manager", "terminate"}));
}

TEST_F(AppDelegateTest, OpenedIsSetBeforeTheEventIsReadAndTheReplyIsNeverTouched) {
    launch();
    auto event = FakeAppleEventDescriptor::openDocuments(nullptr);
    std::vector<bool> openedAtRead;
    event->onRead = [&] { openedAtRead.push_back(appDelegate->opened()); };
    open(*event);
    EXPECT_EQ(openedAtRead, std::vector<bool>{true});
    EXPECT_EQ(reply.reads(), 0);
}

}  // namespace
}  // namespace vxm::launcher
