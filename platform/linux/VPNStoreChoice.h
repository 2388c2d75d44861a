// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "platform/VPNStore.h"
#include "platform/MainQueue.h"

namespace vxm::platform {

// The one place the VPN configuration store is chosen, when the tool starts:
// the one VXM_BACKEND names, "embedded" (the SQLite file at the path the
// environment names) or "networkmanager" (the provider's profiles in
// NetworkManager); unset or empty, the build's default (VXM_DEFAULT_BACKEND).
// Opens nothing yet. Throws std::invalid_argument for any other name.
std::unique_ptr<VPNConfigurationStore> makeVPNStore(MainQueue& mainQueue);

}  // namespace vxm::platform
