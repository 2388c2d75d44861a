// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vxm::platform {

// Looks up an environment variable; no value when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// The path of the VPN configuration store: $VXM_STORE when it is set and not
// empty; else vexomi/vpn-configurations.db under $XDG_STATE_HOME, or under
// ~/.local/state when that is unset or not absolute (as XDG says). The home
// folder is $HOME when it is absolute, else the user's entry in the password
// database. Empty when there is no home folder either. The store resolves the
// path's folder when it opens the file (see openStoreFile).
std::string storePath(const EnvironmentLookup& environment);

// The store path for this process's environment.
std::string storePathFromEnvironment();

}  // namespace vxm::platform
