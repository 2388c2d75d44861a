// Launches the delegate against the fakes, hands it one open-documents event
// built from the input, lets the launch check come due, and checks on every
// input:
//  - every child started is the client's agent, <folder>/vxm, with exactly
//    the arguments "import" and one path ending in ".vxm";
//  - those paths are, in order, the items' paths (a file URL's path, else the
//    string) that end in ".vxm", each run waited for before the next starts;
//  - the service manager is never started, and the reply is never read;
//  - the application terminates exactly once.
//
// Input: a flags byte, a delay byte, the agent's folder, then items to the end.
// Texts are a length byte and that many bytes. An item is a kind byte (file
// URL, string, both, neither, missing) and, for the kinds that carry them,
// its texts.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/AppDelegate.h"
#include "platform/fake/FakeAppleEvent.h"
#include "platform/fake/FakeApplication.h"
#include "platform/fake/FakeChildProcesses.h"
#include "platform/fake/FakeJournal.h"
#include "platform/fake/FakeLaunchEnvironment.h"
#include "platform/fake/FakeMainQueue.h"

namespace {

using namespace vxm;
using platform::FakeAppleEventDescriptor;

// Flags of the first byte.
constexpr unsigned kNoDirectObject = 0x01U;
constexpr unsigned kDirectObjectNotAList = 0x02U;
constexpr unsigned kAgentMissing = 0x04U;
constexpr unsigned kBeforeDidFinishLaunching = 0x08U;

enum class ItemKind : std::uint8_t { fileURL, string, both, neither, missing, count };

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

class Reader {
public:
    explicit Reader(std::string_view data) : data_(data) {}

    [[nodiscard]] bool empty() const { return data_.empty(); }

    std::uint8_t byte() {
        if (data_.empty()) {
            return 0;
        }
        const auto value = static_cast<std::uint8_t>(data_.front());
        data_.remove_prefix(1);
        return value;
    }

    std::string text() {
        const std::size_t length = std::min<std::size_t>(byte(), data_.size());
        std::string value(data_.substr(0, length));
        data_.remove_prefix(length);
        return value;
    }

private:
    std::string_view data_;
};

struct Event {
    FakeAppleEventDescriptor::Pointer descriptor;
    // The paths the agent must be run for, in order.
    std::vector<std::string> expectedImports;
};

Event buildEvent(Reader& reader, unsigned flags) {
    std::vector<platform::AppleEventDescriptor::Ref> items;
    std::vector<std::string> expected;
    while (!reader.empty()) {
        const auto kind = static_cast<ItemKind>(reader.byte() % static_cast<std::uint8_t>(ItemKind::count));
        FakeAppleEventDescriptor::Pointer item;
        switch (kind) {
            case ItemKind::fileURL:
                item = FakeAppleEventDescriptor::fileURLItem(reader.text());
                break;
            case ItemKind::string:
                item = FakeAppleEventDescriptor::stringItem(reader.text());
                break;
            case ItemKind::both:
                item = FakeAppleEventDescriptor::fileURLItem(reader.text());
                item->string = reader.text();
                break;
            case ItemKind::neither:
                item = FakeAppleEventDescriptor::otherItem();
                break;
            case ItemKind::missing:
            case ItemKind::count:
                break;
        }
        if (item) {
            const std::optional<std::string>& path = item->fileURL ? item->fileURL : item->string;
            if (path && path->ends_with(".vxm")) {
                expected.push_back(*path);
            }
        }
        items.push_back(std::move(item));
    }

    if ((flags & kNoDirectObject) != 0U) {
        return {FakeAppleEventDescriptor::openDocuments(nullptr), {}};
    }
    if ((flags & kDirectObjectNotAList) != 0U) {
        // A direct object of another kind has no items, whatever it holds.
        return {FakeAppleEventDescriptor::openDocuments(FakeAppleEventDescriptor::stringItem("/d/a.vxm")), {}};
    }
    return {FakeAppleEventDescriptor::openDocuments(FakeAppleEventDescriptor::list(std::move(items))),
            std::move(expected)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader reader(std::string_view(reinterpret_cast<const char*>(data), size));
    const unsigned flags = reader.byte();
    const std::chrono::milliseconds delay{reader.byte() % 250};

    platform::FakeJournal journal;
    platform::FakeApplication application{journal};
    platform::FakeAppleEventManager appleEvents{journal};
    platform::FakeMainQueue mainQueue;
    platform::FakeChildProcesses childProcesses{journal};
    platform::FakeLaunchEnvironment environment;
    environment.agent = reader.text() + "/vxm";
    const std::string& agent = environment.agent;
    const bool agentMissing = (flags & kAgentMissing) != 0U;
    if (agentMissing) {
        childProcesses.missingExecutables.insert(agent);
    }
    const Event event = buildEvent(reader, flags);
    FakeAppleEventDescriptor reply;

    auto appDelegate = std::make_shared<launcher::AppDelegate>(
        launcher::LauncherPlatform{application, appleEvents, mainQueue, childProcesses, environment});
    application.setDelegate(appDelegate.get());
    // The event comes while launching finishes or inside the launch check's
    // window, at most a quarter second after it opened.
    appDelegate->applicationWillFinishLaunching();
    const bool before = (flags & kBeforeDidFinishLaunching) != 0U;
    if (!before) {
        appDelegate->applicationDidFinishLaunching();
        mainQueue.advance(delay);
    }
    check(appleEvents.deliver(platform::kCoreEventClass, platform::kAEOpenDocuments, *event.descriptor, reply));
    if (before) {
        appDelegate->applicationDidFinishLaunching();
    }
    mainQueue.advance(std::chrono::seconds(1));

    const auto& starts = childProcesses.starts();
    check(std::none_of(starts.begin(), starts.end(),
                       [&](const auto& start) { return start.executablePath == environment.serviceManager; }));
    check(starts.size() == event.expectedImports.size());
    for (std::size_t i = 0; i < starts.size(); ++i) {
        check(starts[i].executablePath == agent);
        check(starts[i].arguments.size() == 2);
        check(starts[i].arguments[0] == "import");
        check(starts[i].arguments[1].ends_with(".vxm"));
        check(starts[i].arguments[1] == event.expectedImports[i]);
        check(starts[i].started != agentMissing);
    }
    // One run at a time: each start the agent survived is waited for before
    // anything else happens.
    const std::vector<std::string>& lines = journal.lines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].starts_with("start ")) {
            check(i + 1 < lines.size() && lines[i + 1] == "waited " + agent);
        }
    }
    check(childProcesses.waits() == (agentMissing ? 0 : static_cast<int>(starts.size())));
    check(application.terminateCount() == 1);
    check(journal.lines().back() == "terminate");
    check(appDelegate->opened());
    check(reply.reads() == 0);
    check(mainQueue.pendingCount() == 0);
    return 0;
}
