#pragma once

#include <utility>

#include "platform/MainQueue.h"
#include "platform/Process.h"
#include "platform/VPNStore.h"
#include "platform/linux/AsioMainQueue.h"
#include "platform/linux/LinuxProcess.h"
#include "platform/linux/SqliteVPNStore.h"
#include "platform/linux/StoreLocation.h"

namespace vxm::platform {

// The platform services of one run of the tool on Linux: the Asio main loop,
// the process, and the VPN configuration store at the path the environment
// names (VXM_STORE, else under XDG_STATE_HOME), which takes display names
// that `sameName` finds equal for one. Only the main loop's own
// descriptors are made at once (it throws std::system_error when they cannot
// be); the store opens nothing until used.
class LinuxRuntime {
public:
    explicit LinuxRuntime(SqliteVPNStore::SameName sameName)
        : store_(mainQueue_, storePathFromEnvironment(), std::move(sameName)) {}

    MainQueue& mainQueue() { return mainQueue_; }
    Process& process() { return process_; }
    VPNConfigurationStore& vpnStore() { return store_; }

private:
    LinuxProcess process_;  // first: it fills closed standard descriptors
    AsioMainQueue mainQueue_;
    SqliteVPNStore store_;
};

}  // namespace vxm::platform
