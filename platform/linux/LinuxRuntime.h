// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "platform/MainQueue.h"
#include "platform/Process.h"
#include "platform/VPNStore.h"
#include "platform/linux/AsioMainQueue.h"
#include "platform/posix/PosixProcess.h"
#include "platform/linux/SqliteVPNStore.h"
#include "platform/linux/StoreLocation.h"

namespace vxm::platform {

// The platform services of one run of the tool on Linux: the Asio main loop,
// the process, and the VPN configuration store at the path the environment
// names (VXM_STORE, else under XDG_STATE_HOME). Only the main loop's own
// descriptors are made at once (it throws std::system_error when they cannot
// be); the store opens nothing until used.
class LinuxRuntime {
public:
    LinuxRuntime() : store_(mainQueue_, storePathFromEnvironment()) {}

    MainQueue& mainQueue() { return mainQueue_; }
    Process& process() { return process_; }
    VPNConfigurationStore& vpnStore() { return store_; }

private:
    PosixProcess process_;  // first: it fills closed standard descriptors
    AsioMainQueue mainQueue_;
    SqliteVPNStore store_;
};

}  // namespace vxm::platform
