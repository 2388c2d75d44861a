#pragma once

#include <memory>

#include "platform/MainQueue.h"
#include "platform/Process.h"
#include "platform/VPNStore.h"
#include "platform/linux/AsioMainQueue.h"
#include "platform/linux/VPNStoreChoice.h"
#include "platform/posix/PosixProcess.h"

namespace vxm::platform {

// The platform services of one run of the tool on Linux: the Asio main loop,
// the process, and the VPN configuration store VXM_BACKEND chooses (see
// makeVPNStore). Only the main loop's own descriptors are made at once (it
// throws std::system_error when they cannot be, std::invalid_argument for an
// unknown backend); the store opens nothing until used.
class LinuxRuntime {
public:
    LinuxRuntime() : store_(makeVPNStore(mainQueue_)) {}

    MainQueue& mainQueue() { return mainQueue_; }
    Process& process() { return process_; }
    VPNConfigurationStore& vpnStore() { return *store_; }

private:
    PosixProcess process_;  // first: it fills closed standard descriptors
    AsioMainQueue mainQueue_;
    std::unique_ptr<VPNConfigurationStore> store_;
};

}  // namespace vxm::platform
