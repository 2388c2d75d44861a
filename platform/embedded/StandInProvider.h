// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/Error.h"
#include "platform/VPNStore.h"
#include "platform/embedded/StoreConnection.h"

namespace vxm::platform {

// Stands in for the packet-tunnel provider: moves a stored configuration's
// status, each change in a transaction of its own and signalled to every
// process. It accepts every start at once. Safe from any thread.
class StandInProvider {
public:
    explicit StandInProvider(std::shared_ptr<StoreConnection> store);

    // Fails for a configuration that is not stored or not enabled; otherwise
    // the status becomes connecting, then connected.
    std::optional<Error> start(std::optional<std::int64_t> key);
    // Brings a tunnel that is not down to disconnected; the error of that
    // write when it fails. One that is gone is down: nothing to do.
    std::optional<Error> stop(std::int64_t key);
    // Sets the status as the provider would. Fails for one that is not stored.
    std::optional<Error> setStatus(std::optional<std::int64_t> key, VPNStatus status);

private:
    std::optional<Error> change(std::optional<std::int64_t> key, Query query, VPNStatus status,
                                std::optional<Error> ifGone = Error{kGone}, bool enabledOnly = false);

    const std::shared_ptr<StoreConnection> store_;
};

}  // namespace vxm::platform
