// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/VPNStoreChoice.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/embedded/SqliteVPNStore.h"
#include "platform/embedded/StoreLocation.h"
#include "platform/networkmanager/NetworkManagerBackend.h"

namespace vxm::platform {

std::unique_ptr<VPNConfigurationStore> makeVPNStore(MainQueue& mainQueue, SameName sameName) {
    const char* named = std::getenv("VXM_BACKEND");  // NOLINT(concurrency-mt-unsafe): read before any thread starts
    const std::string backend = named != nullptr && *named != '\0' ? named : VXM_DEFAULT_BACKEND;
    if (backend == "embedded") {
        return std::make_unique<SqliteVPNStore>(mainQueue, storePathFromEnvironment(), std::move(sameName));
    }
    if (backend == "networkmanager") {
        return networkmanager::makeNetworkManagerStore(mainQueue, VXM_APP_IDENTIFIER ".tunnel");
    }
    throw std::invalid_argument("unknown VXM_BACKEND \"" + backend + "\" (embedded or networkmanager)");
}

}  // namespace vxm::platform
