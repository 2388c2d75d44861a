// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <sys/prctl.h>

#include <memory>
#include <utility>

#include "platform/MainQueue.h"
#include "platform/VPNStore.h"
#include "platform/linux/AsioMainQueue.h"
#include "platform/linux/VPNStoreChoice.h"

namespace vxm::platform {

// What one command of the tool runs on, on Linux: the Asio main loop and the
// VPN configuration store VXM_BACKEND chooses (see makeVPNStore), which takes
// display names that `sameName` finds equal for one. Built only for a
// command, which reads a private key from the document or the store: the
// process is first made non-dumpable, so that no core file holds the key and
// no other process of the user may attach to it. Only the main loop's own
// descriptors are made at once (it throws std::system_error when they cannot
// be, std::invalid_argument for an unknown backend); the store opens nothing
// until used.
class LinuxRuntime {
public:
    explicit LinuxRuntime(SameName sameName) : store_(makeVPNStore(mainQueue_, std::move(sameName))) {
        // Cannot fail with these arguments. Children would not inherit it,
        // but the tool starts none.
        (void)::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    }

    MainQueue& mainQueue() { return mainQueue_; }
    VPNConfigurationStore& vpnStore() { return *store_; }

private:
    AsioMainQueue mainQueue_;
    std::unique_ptr<VPNConfigurationStore> store_;
};

}  // namespace vxm::platform
