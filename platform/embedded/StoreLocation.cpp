// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/StoreLocation.h"

#include <cstdlib>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace vxm::platform {

namespace {

std::optional<std::string> nonEmpty(std::optional<std::string> value) {
    if (value && value->empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> homeFromPasswordDatabase() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr) {
        return std::nullopt;
    }
    return nonEmpty(std::string(found->pw_dir));
}

}  // namespace

std::string storePath(const EnvironmentLookup& environment) {
    if (std::optional<std::string> explicitPath = nonEmpty(environment("VXM_STORE"))) {
        return *explicitPath;
    }
    std::optional<std::string> stateHome = nonEmpty(environment("XDG_STATE_HOME"));
    if (!stateHome || stateHome->front() != '/') {
        std::optional<std::string> home = nonEmpty(environment("HOME"));
        if (!home || home->front() != '/') {
            home = homeFromPasswordDatabase();
        }
        if (!home) {
            return {};
        }
        stateHome = *home + "/.local/state";
    }
    return *stateHome + "/vexomi/vpn-configurations.db";
}

std::string storePathFromEnvironment() {
    return storePath([](const char* name) -> std::optional<std::string> {
        // Read while the process is still single-threaded, before the loop.
        const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
        if (value == nullptr) {
            return std::nullopt;
        }
        return std::string(value);
    });
}

}  // namespace vxm::platform
