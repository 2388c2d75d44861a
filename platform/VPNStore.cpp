// SPDX-License-Identifier: Apache-2.0
#include "platform/VPNStore.h"

#include <utility>

namespace vxm::platform {

LazyProviderConfiguration::LazyProviderConfiguration(ProviderConfiguration values)
    : values_(std::make_shared<const ProviderConfiguration>(std::move(values))) {}

LazyProviderConfiguration LazyProviderConfiguration::stored(Read read) {
    LazyProviderConfiguration configuration;
    configuration.read_ = std::move(read);
    return configuration;
}

const ProviderConfiguration* LazyProviderConfiguration::get() const {
    if (read_) {
        const Read read = std::exchange(read_, nullptr);
        if (std::optional<ProviderConfiguration> values = read()) {
            values_ = std::make_shared<const ProviderConfiguration>(*std::move(values));
        }
    }
    return values_.get();
}

bool LazyProviderConfiguration::operator==(const LazyProviderConfiguration& other) const {
    const ProviderConfiguration* mine = get();
    const ProviderConfiguration* theirs = other.get();
    return mine == nullptr || theirs == nullptr ? mine == theirs : *mine == *theirs;
}

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
