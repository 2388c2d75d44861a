// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>

#include "platform/MainQueue.h"
#include "platform/VPNStore.h"

namespace vxm::platform::networkmanager {

// The NetworkManager store of the provider `serviceType`. In a build without
// the backend (VXM_NETWORKMANAGER off, so that vxm-tunnel loads no D-Bus
// library at start) it throws std::invalid_argument saying so.
std::unique_ptr<VPNConfigurationStore> makeNetworkManagerStore(MainQueue& mainQueue, const std::string& serviceType);

}  // namespace vxm::platform::networkmanager
