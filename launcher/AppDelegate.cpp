// SPDX-License-Identifier: Apache-2.0
#include "launcher/AppDelegate.h"

#include <algorithm>
#include <chrono>
#include <optional>

namespace vxm::launcher {

const std::string_view kAppIdentifier = VXM_APP_IDENTIFIER;

std::shared_ptr<AppDelegate> delegate;

namespace {

constexpr std::string_view kDocumentSuffix = ".vxm";
constexpr std::string_view kAgentVerb = "import";
constexpr std::chrono::milliseconds kLaunchCheckDelay{500};

// Whether a path names a document: it ends in ".vxm" in any mix of ASCII
// cases, as the desktop's file-type databases match it (Launch Services, and
// the shared MIME database through its legacy glob list, ignore case), so
// that every document the desktop opens with the launcher reaches the agent.
bool isDocument(std::string_view path) {
    if (path.size() < kDocumentSuffix.size()) {
        return false;
    }
    const std::string_view end = path.substr(path.size() - kDocumentSuffix.size());
    return std::equal(end.begin(), end.end(), kDocumentSuffix.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
}

// The path a document item stands for: a file URL's path, else the item's
// string verbatim; none for an item that is neither.
std::optional<std::string> documentPath(const platform::AppleEventDescriptor& item) {
    if (auto path = item.fileURLPath()) {
        return path;
    }
    return item.stringValue();
}

}  // namespace

void AppDelegate::applicationWillFinishLaunching() {
    platform_.appleEventManager.setEventHandler(
        [this](const platform::AppleEventDescriptor& event, const platform::AppleEventDescriptor& reply) {
            handleOpen(event, reply);
        },
        platform::kCoreEventClass, platform::kAEOpenDocuments);
}

void AppDelegate::handleOpen(const platform::AppleEventDescriptor& event,
                             const platform::AppleEventDescriptor& /*reply*/) {
    // First of all, so that a launch check coming due at any later time,
    // also during an import, leaves the ending to this handler.
    setOpened(true);

    const platform::AppleEventDescriptor::Ref documents = event.paramDescriptor(platform::keyDirectObject);
    if (!documents) {
        platform_.application.terminate();
        return;
    }
    const std::string agentPath = platform_.environment.agentPath();
    const std::int64_t count = documents->numberOfItems();
    for (std::int64_t index = 1; index <= count; ++index) {
        const platform::AppleEventDescriptor::Ref item = documents->descriptorAtIndex(index);
        if (!item) {
            continue;
        }
        const std::optional<std::string> path = documentPath(*item);
        if (path && isDocument(*path)) {
            runToExit(agentPath, {std::string(kAgentVerb), *path});
        }
    }
    platform_.application.terminate();
}

void AppDelegate::applicationDidFinishLaunching() {
    platform_.mainQueue.asyncAfter(kLaunchCheckDelay, [self = shared_from_this()] { self->launchCheck(); });
}

void AppDelegate::startService() {
    const platform::Command command = platform_.environment.launchAgentStart(kAppIdentifier);
    runToExit(command.executablePath, command.arguments);
}

void AppDelegate::launchCheck() {
    if (opened()) {
        return;
    }
    startService();
    platform_.application.terminate();
}

// A child that cannot start is dropped without a trace: there is nothing to
// wait for, and nobody to tell.
void AppDelegate::runToExit(const std::string& executablePath, const std::vector<std::string>& arguments) {
    auto child = platform_.childProcesses.start(executablePath, arguments);
    if (child.ok()) {
        child.value()->waitUntilExit();
    }
}

}  // namespace vxm::launcher
