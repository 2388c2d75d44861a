// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/VPNStore.h"
#include "platform/MainQueue.h"

namespace vxm::platform {

// The one place the VPN configuration store is chosen, when the tool starts:
// the one VXM_BACKEND names, "embedded" (the SQLite file at the path the
// environment names) or "networkmanager" (the provider's profiles in
// NetworkManager); unset or empty, the build's default (VXM_DEFAULT_BACKEND).
//
// The NetworkManager store is a program of its own (vxm-tunnel-networkmanager,
// installed at a path fixed relative to vxm-tunnel's), so that vxm-tunnel
// loads no D-Bus library and keeps its own C++ runtime: vxm-tunnel hands the
// command over to it first thing.

// When the store chosen is one this program does not carry, replaces the
// process by the program that does, with the same arguments (`argv`), found
// beside this one's executable, never through PATH or the environment.
// Returns only when it could not, with the cause; none when this program
// serves the choice itself, or the name is unknown (makeVPNStore says so).
std::optional<std::string> handOverToChosenStore(char** argv);

// The store chosen. Display names that `sameName` finds equal name one site.
// Opens nothing yet. Throws std::invalid_argument for an unknown name, or for
// a store this program does not carry.
using SameName = std::function<bool(std::string_view, std::string_view)>;
std::unique_ptr<VPNConfigurationStore> makeVPNStore(MainQueue& mainQueue, SameName sameName);

}  // namespace vxm::platform
