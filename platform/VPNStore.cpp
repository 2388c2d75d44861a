#include "platform/VPNStore.h"

#include <utility>

namespace vxm::platform {

LazyProviderConfiguration::LazyProviderConfiguration(ProviderConfiguration values)
    : values_(std::make_shared<const ProviderConfiguration>(std::move(values))) {}

LazyProviderConfiguration LazyProviderConfiguration::stored(std::weak_ptr<ProviderConfigurationSource> source,
                                                            std::int64_t key) {
    LazyProviderConfiguration configuration;
    configuration.source_ = std::move(source);
    configuration.key_ = key;
    configuration.read_ = false;
    return configuration;
}

LazyProviderConfiguration LazyProviderConfiguration::stored(std::function<std::optional<ProviderConfiguration>()> read) {
    LazyProviderConfiguration configuration;
    configuration.reader_ = std::move(read);
    configuration.read_ = false;
    return configuration;
}

const ProviderConfiguration* LazyProviderConfiguration::get() const {
    if (!read_ && reader_) {
        read_ = true;
        if (std::optional<ProviderConfiguration> values = reader_()) {
            values_ = std::make_shared<const ProviderConfiguration>(*std::move(values));
        }
    } else if (!read_) {
        read_ = true;
        if (const std::shared_ptr<ProviderConfigurationSource> source = source_.lock()) {
            if (std::optional<ProviderConfiguration> values = source->readProviderConfiguration(key_)) {
                values_ = std::make_shared<const ProviderConfiguration>(*std::move(values));
            }
        }
    }
    return values_.get();
}

std::optional<std::int64_t> LazyProviderConfiguration::storedKey(const ProviderConfigurationSource& source) const {
    if (source_.lock().get() != &source) {
        return std::nullopt;
    }
    return key_;
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
