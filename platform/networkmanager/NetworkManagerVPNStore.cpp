// SPDX-License-Identifier: Apache-2.0
#include "platform/networkmanager/NetworkManagerVPNStore.h"

#include <poll.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <utility>

namespace vxm::platform::networkmanager {

namespace {

const Error kNotSaved{"the configuration is not saved"};
const Error kNotEnabled{"the configuration is not enabled"};
const Error kNotTunnel{"only a packet-tunnel provider's configuration can be kept in NetworkManager"};
const Error kNotOurs{"the configuration is not one of NetworkManager's"};

NetworkManagerProfile* profileHandle(TunnelProviderManager& manager) {
    return dynamic_cast<NetworkManagerProfile*>(&manager);
}

const NetworkManagerProfile* profileHandle(const TunnelProviderManager& manager) {
    return dynamic_cast<const NetworkManagerProfile*>(&manager);
}

// A random (version 4) UUID for a new profile.
std::string newUuid() {
    std::random_device random;
    std::array<unsigned, 4> words{random(), random(), random(), random()};
    words[1] = (words[1] & 0xFFFF0FFFU) | 0x00004000U;
    words[2] = (words[2] & 0x3FFFFFFFU) | 0x80000000U;
    std::array<char, 37> text{};
    (void)std::snprintf(text.data(), text.size(), "%08x-%04x-%04x-%04x-%04x%08x", words[0], words[1] >> 16,
                        words[1] & 0xFFFFU, words[2] >> 16, words[2] & 0xFFFFU, words[3]);
    return text.data();
}

// An error text with every secret of the profile taken out, whatever
// NetworkManager's message quoted.
std::optional<Error> withoutSecrets(std::optional<Error> error, const VpnProfile& profile) {
    if (error) {
        std::string& text = error->localizedDescription;
        for (const auto& [key, secret] : profile.secrets) {
            for (std::size_t at = secret.empty() ? std::string::npos : text.find(secret); at != std::string::npos;
                 at = text.find(secret, at)) {
                text.replace(at, secret.size(), "<" + key + ">");
            }
        }
    }
    return error;
}

}  // namespace

NetworkManagerVPNStore::NetworkManagerVPNStore(MainQueue& mainQueue, std::string serviceType)
    : mainQueue_(mainQueue), serviceType_(std::move(serviceType)) {}

NetworkManagerVPNStore::~NetworkManagerVPNStore() { *alive_ = false; }

ManagerRef NetworkManagerVPNStore::makeManager() { return std::make_shared<NetworkManagerProfile>(*this); }

Result<NetworkManagerBus*> NetworkManagerVPNStore::bus() {
    if (!bus_) {
        Result<std::unique_ptr<NetworkManagerBus>> connected =
            NetworkManagerBus::connect([this](std::optional<StateChange> change) { noteChange(std::move(change)); });
        if (!connected.ok()) {
            return connected.error();
        }
        bus_ = std::move(connected.value());
    }
    return bus_.get();
}

void NetworkManagerVPNStore::complete(ErrorCompletion completion, std::optional<Error> error) {
    mainQueue_.async([completion = std::move(completion), error = std::move(error)] { completion(error); });
}

ManagerRef NetworkManagerVPNStore::handleFor(const VpnProfile& profile) {
    auto manager = std::make_shared<NetworkManagerProfile>(*this);
    manager->uuid = profile.uuid;
    manager->path = profile.path;
    applyProfile(profile, *manager);
    // The secrets are asked for only when the provider configuration is
    // looked at, where the profile was read (or found again by its UUID).
    std::weak_ptr<NetworkManagerBus> weakBus = bus_;
    std::get<TunnelProviderProtocol>(manager->protocolConfiguration).providerConfiguration =
        LazyProviderConfiguration::stored(
            [weakBus, uuid = profile.uuid, path = profile.path]() -> std::optional<ProviderConfiguration> {
                std::shared_ptr<NetworkManagerBus> bus = weakBus.lock();
                if (!bus) {
                    return std::nullopt;
                }
                Result<std::optional<VpnProfile>> read = bus->profileAt(path, uuid);
                if (read.ok() && !read.value()) {
                    read = bus->profile(uuid);
                }
                if (!read.ok() || !read.value()) {
                    return std::nullopt;
                }
                return providerConfigurationOf(*read.value());
            });
    return manager;
}

void NetworkManagerVPNStore::loadAllFromPreferences(LoadAllCompletion completion) {
    Result<NetworkManagerBus*> bus = this->bus();
    Result<std::vector<VpnProfile>> profiles = bus.ok() ? bus.value()->vpnProfiles(serviceType_) : bus.error();
    if (!profiles.ok()) {
        mainQueue_.async([completion = std::move(completion), error = profiles.error()] { completion(error); });
        return;
    }
    std::vector<ManagerRef> managers;
    managers.reserve(profiles.value().size());
    for (const VpnProfile& profile : profiles.value()) {
        managers.push_back(handleFor(profile));
    }
    mainQueue_.async([completion = std::move(completion), managers = std::move(managers)]() mutable {
        completion(std::move(managers));
    });
}

void NetworkManagerVPNStore::loadActiveFromPreferences(LoadAllCompletion completion) {
    Result<NetworkManagerBus*> bus = this->bus();
    Result<std::vector<ActiveProfile>> active = bus.ok() ? bus.value()->activeProfiles(serviceType_) : bus.error();
    if (!active.ok()) {
        mainQueue_.async([completion = std::move(completion), error = active.error()] { completion(error); });
        return;
    }
    std::vector<ManagerRef> managers;
    std::vector<std::pair<std::string, ActiveVpn>> read;
    for (ActiveProfile& each : active.value()) {
        if (managers.empty() || dynamic_cast<NetworkManagerProfile&>(*managers.back()).uuid != each.profile.uuid) {
            managers.push_back(handleFor(each.profile));
        }
        read.emplace_back(each.profile.uuid, std::move(each.active));
    }
    // The statuses hold for the completion, which is queued first.
    mainQueue_.async([completion = std::move(completion), managers = std::move(managers)]() mutable {
        completion(std::move(managers));
    });
    remember(std::move(read));
}

void NetworkManagerVPNStore::save(ManagerRef manager, ErrorCompletion completion) {
    NetworkManagerProfile* handle = profileHandle(*manager);
    std::optional<VpnProfile> profile = handle ? profileFor(*handle, serviceType_) : std::nullopt;
    if (!profile) {
        complete(std::move(completion), handle ? kNotTunnel : kNotOurs);
        return;
    }
    Result<NetworkManagerBus*> bus = this->bus();
    if (!bus.ok()) {
        complete(std::move(completion), bus.error());
        return;
    }
    if (handle->uuid) {
        profile->uuid = *handle->uuid;
        profile->path = handle->path;
        complete(std::move(completion), withoutSecrets(bus.value()->update(*profile), *profile));
        return;
    }
    profile->uuid = newUuid();
    if (getuid() != 0) {
        // A user's own profile, which polkit lets an active session change.
        if (const passwd* user = getpwuid(getuid())) {  // NOLINT(concurrency-mt-unsafe): main thread only
            profile->permissions = "user:" + std::string(user->pw_name) + ":";
        }
    }
    std::optional<Error> error = withoutSecrets(bus.value()->add(*profile), *profile);
    if (!error) {
        handle->uuid = profile->uuid;
        error = withoutSecrets(joinFirstOfSite(*bus.value(), *handle, *profile), *profile);
    }
    complete(std::move(completion), std::move(error));
}

std::optional<Error> NetworkManagerVPNStore::joinFirstOfSite(NetworkManagerBus& bus, NetworkManagerProfile& handle,
                                                              VpnProfile profile) {
    // NetworkManager has no lock to take: every process that added a profile
    // for the site looks again, and all keep the first in NetworkManager's
    // order, which each of them sees alike.
    Result<std::vector<VpnProfile>> listed = bus.vpnProfiles(profile.serviceType);
    if (!listed.ok()) {
        return listed.error();
    }
    auto first = std::find_if(listed.value().begin(), listed.value().end(),
                              [&](const VpnProfile& stored) { return stored.id == profile.id; });
    if (first == listed.value().end() || first->uuid == profile.uuid) {
        return std::nullopt;
    }
    const std::string own = profile.uuid;
    profile.uuid = first->uuid;
    profile.path = first->path;
    if (std::optional<Error> error = bus.update(profile)) {
        return error;
    }
    handle.uuid = profile.uuid;
    handle.path = profile.path;
    return bus.remove(own);
}

void NetworkManagerVPNStore::reload(ManagerRef manager, ErrorCompletion completion) {
    NetworkManagerProfile* handle = profileHandle(*manager);
    if (handle == nullptr || !handle->uuid) {
        complete(std::move(completion), handle ? kNotSaved : kNotOurs);
        return;
    }
    Result<NetworkManagerBus*> bus = this->bus();
    if (!bus.ok()) {
        complete(std::move(completion), bus.error());
        return;
    }
    // Where it was read before, else where its UUID is now.
    Result<std::optional<VpnProfile>> read = handle->path.empty()
                                                 ? std::optional<VpnProfile>()
                                                 : bus.value()->profileAt(handle->path, *handle->uuid);
    if (read.ok() && !read.value()) {
        read = bus.value()->profile(*handle->uuid);
    }
    if (!read.ok() || !read.value()) {
        complete(std::move(completion), read.ok() ? kGone : read.error());
        return;
    }
    applyProfile(*read.value(), *handle);
    handle->path = read.value()->path;
    std::get<TunnelProviderProtocol>(handle->protocolConfiguration).providerConfiguration =
        providerConfigurationOf(*read.value());
    complete(std::move(completion), std::nullopt);
}

void NetworkManagerVPNStore::remove(ManagerRef manager, ErrorCompletion completion) {
    NetworkManagerProfile* handle = profileHandle(*manager);
    if (handle == nullptr || !handle->uuid) {
        complete(std::move(completion), handle ? std::nullopt : std::optional(kNotOurs));
        return;
    }
    Result<NetworkManagerBus*> bus = this->bus();
    complete(std::move(completion), bus.ok() ? bus.value()->remove(*handle->uuid) : bus.error());
}

std::optional<Error> NetworkManagerVPNStore::startTunnel(const TunnelProviderManager& manager) {
    const NetworkManagerProfile* handle = profileHandle(manager);
    if (handle == nullptr || !handle->uuid) {
        return handle ? kNotSaved : kNotOurs;
    }
    if (!handle->isEnabled) {
        return kNotEnabled;
    }
    Result<NetworkManagerBus*> bus = this->bus();
    if (!bus.ok()) {
        return bus.error();
    }
    activeStale_ = true;
    return bus.value()->activate(*handle->uuid, handle->path);
}

std::optional<Error> NetworkManagerVPNStore::stopTunnel(const TunnelProviderManager& manager) {
    const NetworkManagerProfile* handle = profileHandle(manager);
    if (handle == nullptr || !handle->uuid) {
        return std::nullopt;
    }
    Result<NetworkManagerBus*> bus = this->bus();
    if (!bus.ok()) {
        return bus.error();
    }
    if (activeStale_) {
        Result<std::vector<std::pair<std::string, ActiveVpn>>> read = bus.value()->activeVpns();
        if (!read.ok()) {
            return read.error();
        }
        remember(std::move(read.value()));
    }
    const std::vector<std::pair<std::string, ActiveVpn>> active = active_;
    activeStale_ = true;
    // Starts close together can leave a profile active twice for a moment:
    // NetworkManager replaces an activation with a newer one.
    for (const auto& [uuid, vpn] : active) {
        if (uuid == *handle->uuid) {
            if (std::optional<Error> error = bus.value()->deactivate(vpn.path)) {
                return error;
            }
        }
    }
    return std::nullopt;
}

VPNStatus NetworkManagerVPNStore::status(const TunnelProviderManager& manager) {
    const NetworkManagerProfile* handle = profileHandle(manager);
    Result<NetworkManagerBus*> bus = this->bus();
    if (handle == nullptr || !handle->uuid || !bus.ok()) {
        return VPNStatus::invalid;
    }
    bus.value()->process();
    if (activeStale_) {
        Result<std::vector<std::pair<std::string, ActiveVpn>>> read = bus.value()->activeVpns();
        if (!read.ok()) {
            return VPNStatus::invalid;
        }
        remember(std::move(read.value()));
    }
    schedule();
    // Of a profile active twice, the activation that is not going away.
    const ActiveVpn* found = nullptr;
    for (const auto& [uuid, vpn] : active_) {
        if (uuid == *handle->uuid && (found == nullptr || found->state >= ActiveState::deactivating)) {
            found = &vpn;
        }
    }
    return found == nullptr ? VPNStatus::disconnected : statusOf(found->state, found->vpnState);
}

void NetworkManagerVPNStore::observeStatusChanges(const TunnelProviderManager& manager, std::function<void()> block) {
    const NetworkManagerProfile* handle = profileHandle(manager);
    Result<NetworkManagerBus*> bus = this->bus();
    if (handle == nullptr || !handle->uuid || !bus.ok()) {
        return;
    }
    if (!subscribed_) {
        // Every change after this is signalled; what was read before may
        // already be past.
        bus.value()->subscribe();
        subscribed_ = true;
        activeStale_ = true;
    }
    observers_.push_back(std::move(block));
    if (!watch_) {
        watch_ = mainQueue_.watchReadable(bus.value()->descriptor(), [this] { pump(); });
        schedule();
    }
}

void NetworkManagerVPNStore::remember(std::vector<std::pair<std::string, ActiveVpn>> active) {
    active_ = std::move(active);
    activeStale_ = false;
    if (!subscribed_) {
        // Nothing tells of a change: the read holds for the work queued so far.
        mainQueue_.async([this, alive = std::weak_ptr<bool>(alive_)] {
            if (alive.lock() && !subscribed_) {
                activeStale_ = true;
            }
        });
    }
}

void NetworkManagerVPNStore::noteChange(std::optional<StateChange> change) {
    changed_ = true;
    if (change && change->activeConnections) {
        // Active connections gone are let go of; a new one tells its state
        // in a signal of its own, which asks again.
        const std::vector<std::string>& now = *change->activeConnections;
        std::erase_if(active_, [&](const std::pair<std::string, ActiveVpn>& entry) {
            return std::find(now.begin(), now.end(), entry.second.path) == now.end();
        });
        return;
    }
    if (change && !activeStale_) {
        // A state of an active connection already read: no need to ask.
        for (auto& [uuid, vpn] : active_) {
            if (vpn.path == change->path) {
                if (change->vpn) {
                    vpn.vpnState = VpnState{change->state};
                } else {
                    vpn.state = ActiveState{change->state};
                }
                return;
            }
        }
    }
    activeStale_ = true;
}

void NetworkManagerVPNStore::pump() {
    pumpQueued_ = false;
    bus_->process();
    if (changed_) {
        changed_ = false;
        for (const std::function<void()>& block : observers_) {
            block();
        }
    }
    schedule();
}

void NetworkManagerVPNStore::schedule() {
    if (!watch_) {
        return;
    }
    if ((bus_->events() & POLLOUT) != 0 && !writeArmed_) {
        // sd-bus has more to send than the socket took: on when it can.
        writeArmed_ = true;
        watch_->onceWritable([this] {
            writeArmed_ = false;
            pump();
        });
    }
    if (pumpQueued_) {
        return;
    }
    std::optional<std::chrono::microseconds> due = bus_->due();
    if (!changed_ && !due) {
        return;
    }
    pumpQueued_ = true;
    auto later = [this, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.lock()) {
            pump();
        }
    };
    if (changed_ || due->count() == 0) {
        mainQueue_.async(std::move(later));
    } else {
        mainQueue_.asyncAfter(std::chrono::ceil<std::chrono::milliseconds>(*due), std::move(later));
    }
}

}  // namespace vxm::platform::networkmanager
