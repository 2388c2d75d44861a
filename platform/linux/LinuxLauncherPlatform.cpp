// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/LinuxLauncherPlatform.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "platform/linux/LinuxLauncherDocuments.h"

namespace vxm::platform {

std::string agentPathForExecutable(std::string_view executablePath) {
    const std::size_t slash = executablePath.rfind('/');
    if (slash == std::string_view::npos) {
        return "";
    }
    return std::string(executablePath.substr(0, slash + 1)) + "vxm";
}

namespace {

// The working folder, or empty when it cannot be told (it was removed, or
// its path is out of reach).
std::string workingFolder() {
    std::string buffer(256, '\0');
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return "";
        }
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::char_traits<char>::length(buffer.c_str()));
    // Older kernels name a folder out of this process's reach "(unreachable)…":
    // no folder to take a relative path from.
    return buffer.starts_with('/') ? buffer : "";
}

}  // namespace

void LauncherMainQueue::asyncAfter(std::chrono::milliseconds delay, Work work) {
    {
        const std::lock_guard lock(mutex_);
        pending_.emplace(std::chrono::steady_clock::now() + delay, std::move(work));
    }
    queued_.notify_one();
}

std::unique_ptr<MainQueue::Watch> LauncherMainQueue::watchReadable(int /*fd*/, std::function<void()> /*onReadable*/) {
    throw std::system_error(std::make_error_code(std::errc::operation_not_supported), "watching a descriptor");
}

void LauncherMainQueue::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (pending_.empty()) {
            queued_.wait(lock);
            continue;
        }
        const auto first = pending_.begin();
        if (first->first > std::chrono::steady_clock::now()) {
            queued_.wait_until(lock, first->first);
            continue;
        }
        Work work = std::move(first->second);
        pending_.erase(first);
        lock.unlock();
        work();
        lock.lock();
    }
}

void LinuxAppleEventManager::setEventHandler(Handler handler, FourCharCode eventClass, FourCharCode eventID) {
    handlers_[{eventClass, eventID}] = std::move(handler);
}

void LinuxAppleEventManager::dispatch(FourCharCode eventClass, FourCharCode eventID, const AppleEventDescriptor& event,
                                      const AppleEventDescriptor& reply) const {
    auto found = handlers_.find({eventClass, eventID});
    if (found != handlers_.end() && found->second) {
        found->second(event, reply);
    }
}

void LinuxApplication::run() {
    if (delegate_ != nullptr) {
        delegate_->applicationWillFinishLaunching();
    }
    if (!documents_.empty()) {
        auto event = makeOpenDocumentsEvent(documents_, workingFolder());
        mainQueue_.async([this, event = std::move(event), reply = makeNullDescriptor()] {
            events_.dispatch(kCoreEventClass, kAEOpenDocuments, *event, *reply);
        });
    }
    if (delegate_ != nullptr) {
        delegate_->applicationDidFinishLaunching();
    }
    mainQueue_.run();
}

void LinuxApplication::terminate() {
    std::_Exit(0);
}

std::string LinuxLaunchEnvironment::agentPath() const {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            // Without its own path the launcher cannot find the agent, and
            // every import is dropped.
            return "";
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return agentPathForExecutable(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

Command LinuxLaunchEnvironment::launchAgentStart(std::string_view appIdentifier) const {
    return {"/usr/bin/systemctl", {"--user", "start", std::string(appIdentifier) + ".service"}};
}

}  // namespace vxm::platform
