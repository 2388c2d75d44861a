// SPDX-License-Identifier: Apache-2.0
#include "Commands.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <memory>
#include <mutex>
#include <utility>

#include "TunnelManager.h"
#include "Types.h"
#include "platform/DispatchGroup.h"

namespace vxm::tunnel {

using platform::Error;
using platform::ManagerRef;
using platform::Result;
using platform::VPNStatus;

namespace {

constexpr std::string_view kUsage = "Usage: vxm-tunnel <start|stop|status|wait|remove> [options]\n";
constexpr std::string_view kDefaultSiteName = "Vexomi";

// Prints the run's one response and ends the process with the status that
// goes with it, or with 1 when the response did not reach its reader whole: a
// caller must never take a success it did not see. Callers return right after.
void finish(const Application& app, const HelperResponse& response) {
    const bool printed = printResponse(app.process, response);
    app.process.exit(response.ok && printed ? 0 : 1);
}

void fail(const Application& app, std::string message) {
    finish(app, {.ok = false, .error = std::move(message)});
}

bool isUp(VPNStatus status) { return status == VPNStatus::connected || status == VPNStatus::connecting; }

// ---- start ----

// The document named by --config, or nothing after reporting why it is missing
// or cannot be read.
std::optional<std::string> readDocument(const Run& run) {
    const std::optional<std::string> source = run.argValue("--config");
    if (!source) {
        fail(run.app, "Missing --config <path>");
        return std::nullopt;
    }
    // One byte more than the limit tells a document that is too long.
    constexpr std::size_t kReadLimit = kMaxDocumentBytes + 1;
    std::optional<std::string> document = *source == "-" ? run.app.process.readStandardInput(kReadLimit)
                                                         : run.app.process.readFile(*source, kReadLimit);
    if (!document) {
        fail(run.app, "Cannot read config file: " + *source);
    }
    return document;
}

void startSite(const Application& app, const ManagerRef& manager, const TunnelConfig& config,
               const std::string& siteName) {
    std::string vpnIP = addressBeforePrefix(config.address);
    TunnelManager::startTunnel(
        manager, config,
        [app, siteName, vpnIP = std::move(vpnIP)](std::optional<Error> error) {
            if (error) {
                fail(app, "Failed to start tunnel: " + error->localizedDescription);
                return;
            }
            finish(app, {.ok = true, .name = TunnelManager::displayName(siteName), .vpnIP = vpnIP, .connected = true});
        });
}

// ---- stop and remove ----

// Loads what --site selects: that site's configuration (found or new), or
// every configuration of the client. Reports a failed load itself.
void loadTargets(const Run& run, std::function<void(std::vector<ManagerRef>)> then) {
    const Application app = run.app;
    if (std::optional<std::string> site = run.argValue("--site")) {
        TunnelManager::loadOrCreate(app.store, *std::move(site),
                                    [app, then = std::move(then)](Result<ManagerRef> loaded) {
                                        if (!loaded.ok()) {
                                            fail(app, "Failed to load tunnel manager: " +
                                                          loaded.error().localizedDescription);
                                            return;
                                        }
                                        then({loaded.value()});
                                    });
        return;
    }
    TunnelManager::loadAll(app.store, [app, then = std::move(then)](Result<std::vector<ManagerRef>> loaded) {
        if (!loaded.ok()) {
            fail(app, "Failed to load tunnel managers: " + loaded.error().localizedDescription);
            return;
        }
        then(std::move(loaded.value()));
    });
}

// The removals of one command, which complete on any thread: the failure
// reported is the earliest request's that failed, so that it does not depend
// on timing. Only that one is kept: a removal of thousands keeps no list.
class Removals {
public:
    platform::DispatchGroup group;

    void note(std::size_t index, std::optional<Error> error) {
        const std::lock_guard lock(mutex_);
        if (error && (!first_ || index < first_->first)) {
            first_.emplace(index, *std::move(error));
        }
    }

    std::optional<Error> firstFailure() {
        const std::lock_guard lock(mutex_);
        return first_ ? std::optional<Error>(first_->second) : std::nullopt;
    }

private:
    std::mutex mutex_;
    std::optional<std::pair<std::size_t, Error>> first_;
};

// ---- wait ----

// Ends the process when nothing in `active` is connected or connecting any more.
void waitCheck(const Application& app, const std::vector<ManagerRef>& active) {
    const bool anyUp = std::any_of(active.begin(), active.end(),
                                   [](const ManagerRef& manager) { return isUp(manager->connection().status()); });
    if (!anyUp) {
        app.process.exit(0);
    }
}

// Watches the configurations that are up now, until none is.
void waitForActive(const Application& app, const std::vector<ManagerRef>& managers) {
    auto active = std::make_shared<std::vector<ManagerRef>>();
    std::copy_if(managers.begin(), managers.end(), std::back_inserter(*active),
                 [](const ManagerRef& manager) { return isUp(manager->connection().status()); });
    if (active->empty()) {
        app.process.exit(0);
        return;
    }
    for (const ManagerRef& manager : *active) {
        manager->connection().observeStatusChanges([app, active] { waitCheck(app, *active); });
    }
    // A tunnel that went down between the load and the registration has
    // notified no one: check once more, on the main queue like the observers,
    // so that two checks never run at once.
    app.mainQueue.async([app, active] { waitCheck(app, *active); });
}

}  // namespace

std::optional<std::string> Run::argValue(std::string_view option) const {
    for (auto arg = args.begin(); arg != args.end(); ++arg) {
        if (*arg == option) {
            return std::next(arg) == args.end() ? std::nullopt : std::optional(*std::next(arg));
        }
        // The joined form, as every GNU tool takes it: an invocation meant for
        // one site must never read as one for all of them.
        if (arg->size() > option.size() && arg->starts_with(option) && (*arg)[option.size()] == '=') {
            return arg->substr(option.size() + 1);
        }
    }
    return std::nullopt;
}

void dispatchCommand(const Run& run) {
    using Handler = void (*)(const Run&);
    static constexpr std::pair<std::string_view, Handler> kHandlers[] = {
        {"start", handleStart}, {"stop", handleStop},     {"status", handleStatus},
        {"wait", handleWait},   {"remove", handleRemove},
    };
    for (const auto& [word, handler] : kHandlers) {
        if (run.command == word) {
            handler(run);
            return;
        }
    }
    run.app.process.writeStandardError("Unknown command: " + run.command + "\n");
    run.app.process.exit(1);
}

void handleStart(const Run& run) {
    std::optional<std::string> document = readDocument(run);
    if (!document) {
        return;
    }
    auto decoded = decodeTunnelConfig(*document);
    if (!decoded.ok()) {
        fail(run.app, "Invalid config JSON: " + decoded.error().localizedDescription);
        return;
    }
    TunnelConfig config = std::move(decoded.value());
    std::string siteName = config.siteName.value_or(std::string(kDefaultSiteName));
    const Application app = run.app;
    TunnelManager::loadOrCreate(app.store, siteName,
                                [app, config = std::move(config), siteName](Result<ManagerRef> loaded) {
                                    if (!loaded.ok()) {
                                        fail(app, "Failed to load tunnel manager: " +
                                                      loaded.error().localizedDescription);
                                        return;
                                    }
                                    startSite(app, loaded.value(), config, siteName);
                                });
}

void handleStop(const Run& run) {
    const Application app = run.app;
    std::optional<std::string> site = run.argValue("--site");
    const char* failure = site ? "Failed to load tunnel manager: " : "Failed to load tunnel managers: ";
    // Only a tunnel that may be up has anything to stop.
    TunnelManager::loadActive(app.store, std::move(site), [app, failure](Result<std::vector<ManagerRef>> loaded) {
        if (!loaded.ok()) {
            fail(app, failure + loaded.error().localizedDescription);
            return;
        }
        const std::vector<ManagerRef>& targets = loaded.value();
        // Every target is asked, whatever became of the ones before it.
        std::optional<Error> firstFailure;
        for (const ManagerRef& target : targets) {
            std::optional<Error> error = target->connection().stopVPNTunnel();
            if (error && !firstFailure) {
                firstFailure = std::move(error);
            }
        }
        if (firstFailure) {
            fail(app, "Failed to stop tunnel: " + firstFailure->localizedDescription);
            return;
        }
        finish(app, {.ok = true, .connected = false});
    });
}

void handleRemove(const Run& run) {
    const Application app = run.app;
    loadTargets(run, [app](std::vector<ManagerRef> targets) {
        auto removals = std::make_shared<Removals>();
        for (std::size_t index = 0; index < targets.size(); ++index) {
            removals->group.enter();
            targets[index]->removeFromPreferences([removals, index](std::optional<Error> error) {
                removals->note(index, std::move(error));
                removals->group.leave();
            });
            // Let go of each handle once its removal is asked for: a removal of
            // thousands then holds no more memory at once than a load of them.
            targets[index].reset();
        }
        removals->group.notify(app.mainQueue, [app, removals] {
            if (std::optional<Error> failure = removals->firstFailure()) {
                fail(app, "Failed to remove tunnel: " + failure->localizedDescription);
                return;
            }
            finish(app, {.ok = true});
        });
    });
}

void handleStatus(const Run& run) {
    const Application app = run.app;
    TunnelManager::loadActive(app.store, std::nullopt, [app](Result<std::vector<ManagerRef>> loaded) {
        if (!loaded.ok()) {
            fail(app, "Failed to load tunnel managers: " + loaded.error().localizedDescription);
            return;
        }
        for (const ManagerRef& manager : loaded.value()) {
            if (manager->connection().status() == VPNStatus::connected) {
                finish(app, {.ok = true,
                             .name = manager->localizedDescription,
                             .vpnIP = TunnelManager::vpnIP(*manager),
                             .connected = true});
                return;
            }
        }
        finish(app, {.ok = true, .connected = false});
    });
}

void handleWait(const Run& run) {
    const Application app = run.app;
    TunnelManager::loadActive(app.store, std::nullopt, [app](Result<std::vector<ManagerRef>> loaded) {
        // Silence with status 0 tells the caller that nothing is up: a store
        // that cannot be read must not say so.
        if (!loaded.ok()) {
            fail(app, "Failed to load tunnel managers: " + loaded.error().localizedDescription);
            return;
        }
        waitForActive(app, loaded.value());
    });
}

bool hasCommandWord(const std::vector<std::string>& args, platform::Process& process) {
    if (args.size() < 2) {
        process.writeStandardError(kUsage);
        process.exit(1);
        return false;
    }
    return true;
}

int runTool(std::vector<std::string> args, Application app) {
    if (!hasCommandWord(args, app.process)) {
        return 1;
    }
    auto run = std::make_shared<Run>(Run{std::move(args), {}, app});
    run->command = run->args[1];
    app.mainQueue.async([run] { dispatchCommand(*run); });
    try {
        app.mainQueue.run();
    } catch (const std::exception& error) {
        return failToRun(app.process, error.what());
    }
    return 0;
}

int failToRun(platform::Process& process, const std::string& reason) {
    // The status is 1 whether or not the response got out.
    (void)printResponse(process, {.ok = false, .error = "Failed to run vxm-tunnel: " + reason});
    process.exit(1);
    return 1;
}

}  // namespace vxm::tunnel
