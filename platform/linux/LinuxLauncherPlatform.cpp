#include "platform/linux/LinuxLauncherPlatform.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "platform/linux/LinuxLauncherDocuments.h"

namespace vxm::platform {

std::string bundlePathForExecutable(std::string_view executablePath) {
    const std::size_t slash = executablePath.rfind('/');
    if (slash == std::string_view::npos) {
        return ".";
    }
    std::string_view folder = executablePath.substr(0, slash);
    constexpr std::string_view kExecutableFolder = "/Contents/MacOS";
    if (folder.ends_with(kExecutableFolder)) {
        folder.remove_suffix(kExecutableFolder.size());
    }
    return folder.empty() ? "/" : std::string(folder);
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
        mainQueue_.async([this, event = makeOpenDocumentsEvent(documents_), reply = makeNullDescriptor()] {
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

std::string LinuxLaunchEnvironment::bundlePath() const {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            // Without its own path the launcher has no bundle; the agent then
            // cannot be found and every import is dropped.
            return ".";
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return bundlePathForExecutable(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::uint32_t LinuxLaunchEnvironment::userID() const {
    return ::getuid();
}

std::string LinuxLaunchEnvironment::homeDirectory() const {
    // Nothing in the launcher changes its environment.
    const char* home = std::getenv("HOME");  // NOLINT(concurrency-mt-unsafe)
    if (home != nullptr && *home != '\0') {
        return home;
    }
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "";
}

}  // namespace vxm::platform
