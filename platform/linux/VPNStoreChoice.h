// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "platform/VPNStore.h"
#include "platform/MainQueue.h"

namespace vxm::platform {

// The one place the VPN configuration store is chosen, when the tool starts:
// the one VXM_BACKEND names, "embedded" (the SQLite file at the path the
// environment names) or "networkmanager" (the provider's profiles in
// NetworkManager); unset or empty, the build's default (VXM_DEFAULT_BACKEND).
// Display names that `sameName` finds equal name one site. Opens nothing yet.
// Throws std::invalid_argument for any other name.
using SameName = std::function<bool(std::string_view, std::string_view)>;
std::unique_ptr<VPNConfigurationStore> makeVPNStore(MainQueue& mainQueue, SameName sameName);

}  // namespace vxm::platform
