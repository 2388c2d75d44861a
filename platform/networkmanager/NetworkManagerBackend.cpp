#include "platform/networkmanager/NetworkManagerBackend.h"

#include "platform/networkmanager/NetworkManagerVPNStore.h"

namespace vxm::platform::networkmanager {

std::unique_ptr<VPNConfigurationStore> makeNetworkManagerStore(MainQueue& mainQueue, std::string serviceType) {
    return std::make_unique<NetworkManagerVPNStore>(mainQueue, std::move(serviceType));
}

}  // namespace vxm::platform::networkmanager
