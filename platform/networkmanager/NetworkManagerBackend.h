// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>

#include "platform/MainQueue.h"
#include "platform/VPNStore.h"

namespace vxm::platform::networkmanager {

// The NetworkManager store of the provider `serviceType`, as the program
// vxm-tunnel-networkmanager carries it.
std::unique_ptr<VPNConfigurationStore> makeNetworkManagerStore(MainQueue& mainQueue, const std::string& serviceType);

}  // namespace vxm::platform::networkmanager
