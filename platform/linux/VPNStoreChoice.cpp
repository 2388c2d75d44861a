// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/VPNStoreChoice.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/embedded/SqliteVPNStore.h"
#include "platform/embedded/StoreLocation.h"
#ifdef VXM_NETWORKMANAGER_BUILTIN
#include "platform/networkmanager/NetworkManagerBackend.h"
#endif

namespace vxm::platform {

namespace {

std::string chosenBackend() {
    const char* named = std::getenv("VXM_BACKEND");  // NOLINT(concurrency-mt-unsafe): read before any thread starts
    return named != nullptr && *named != '\0' ? named : VXM_DEFAULT_BACKEND;
}

#ifndef VXM_NETWORKMANAGER_BUILTIN
// The NetworkManager store's program, relative to this program's folder;
// empty in a build without it (no sdbus-c++ when it was configured).
constexpr std::string_view kNetworkManagerProgram = VXM_NETWORKMANAGER_PROGRAM;

// The folder of this process's executable, with a slash at the end.
std::optional<std::string> ownFolder() {
    std::array<char, 4096> path{};
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
        return std::nullopt;
    }
    std::string self(path.data(), static_cast<std::size_t>(length));
    return self.substr(0, self.rfind('/') + 1);
}
#endif

}  // namespace

std::optional<std::string> handOverToChosenStore(char** argv) {
#ifdef VXM_NETWORKMANAGER_BUILTIN
    (void)argv;
    return std::nullopt;
#else
    if (chosenBackend() != "networkmanager") {
        return std::nullopt;
    }
    if (kNetworkManagerProgram.empty()) {
        return "this vxm-tunnel was built without the NetworkManager backend (sdbus-c++ was not found)";
    }
    std::optional<std::string> folder = ownFolder();
    if (!folder) {
        return "the NetworkManager backend cannot be found: this program's own path cannot be read";
    }
    const std::string program = *folder + std::string(kNetworkManagerProgram);
    ::execv(program.c_str(), argv);
    const int error = errno;
    if (error == ENOENT) {
        return "the NetworkManager backend is not installed (no " + program + ")";
    }
    return "the NetworkManager backend cannot be run (" + program + "): " + std::strerror(error);  // NOLINT(concurrency-mt-unsafe): no thread yet
#endif
}

std::unique_ptr<VPNConfigurationStore> makeVPNStore(MainQueue& mainQueue, SameName sameName) {
    const std::string backend = chosenBackend();
    if (backend == "embedded") {
        return std::make_unique<SqliteVPNStore>(mainQueue, storePathFromEnvironment(), std::move(sameName));
    }
    if (backend == "networkmanager") {
#ifdef VXM_NETWORKMANAGER_BUILTIN
        return networkmanager::makeNetworkManagerStore(mainQueue, VXM_APP_IDENTIFIER ".tunnel");
#else
        throw std::invalid_argument("the NetworkManager backend runs as a program of its own");
#endif
    }
    throw std::invalid_argument("unknown VXM_BACKEND \"" + backend + "\" (embedded or networkmanager)");
}

}  // namespace vxm::platform
