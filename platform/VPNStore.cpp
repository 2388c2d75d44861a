#include "platform/VPNStore.h"

#include <utility>

namespace vxm::platform {

std::optional<Error> VPNConnection::startVPNTunnel() { return manager_->store().startTunnel(*manager_); }

std::optional<Error> VPNConnection::stopVPNTunnel() { return manager_->store().stopTunnel(*manager_); }

VPNStatus VPNConnection::status() const { return manager_->store().status(*manager_); }

void VPNConnection::observeStatusChanges(std::function<void()> block) {
    manager_->store().observeStatusChanges(*manager_, std::move(block));
}

void TunnelProviderManager::saveToPreferences(ErrorCompletion completion) {
    store_->save(shared_from_this(), std::move(completion));
}

void TunnelProviderManager::loadFromPreferences(ErrorCompletion completion) {
    store_->reload(shared_from_this(), std::move(completion));
}

void TunnelProviderManager::removeFromPreferences(ErrorCompletion completion) {
    store_->remove(shared_from_this(), std::move(completion));
}

VPNConnection TunnelProviderManager::connection() { return VPNConnection(shared_from_this()); }

}  // namespace vxm::platform
