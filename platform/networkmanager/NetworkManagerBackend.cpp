// SPDX-License-Identifier: Apache-2.0
#include "platform/networkmanager/NetworkManagerBackend.h"

#include "platform/networkmanager/NetworkManagerVPNStore.h"

namespace vxm::platform::networkmanager {

std::unique_ptr<VPNConfigurationStore> makeNetworkManagerStore(MainQueue& mainQueue,
                                                               const std::string& serviceType) {
    return std::make_unique<NetworkManagerVPNStore>(mainQueue, serviceType);
}

}  // namespace vxm::platform::networkmanager
