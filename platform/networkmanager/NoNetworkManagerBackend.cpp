// SPDX-License-Identifier: Apache-2.0
#include <stdexcept>

#include "platform/networkmanager/NetworkManagerBackend.h"

namespace vxm::platform::networkmanager {

std::unique_ptr<VPNConfigurationStore> makeNetworkManagerStore(MainQueue& /*mainQueue*/,
                                                               const std::string& /*serviceType*/) {
    throw std::invalid_argument("this vxm-tunnel was built without the NetworkManager backend (VXM_NETWORKMANAGER)");
}

}  // namespace vxm::platform::networkmanager
