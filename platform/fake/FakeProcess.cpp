#include "platform/fake/FakeProcess.h"

#include <algorithm>

namespace vxm::platform {

void FakeProcess::noteWrite() {
    if (exitStatus_) {
        actedAfterExit_ = true;
    }
}

bool FakeProcess::writeStandardOutput(std::string_view text) {
    const std::lock_guard lock(mutex_);
    noteWrite();
    outputThread_ = std::this_thread::get_id();
    if (standardOutputRoom && text.size() > *standardOutputRoom) {
        stdout_.append(text.substr(0, *standardOutputRoom));
        standardOutputRoom = 0;
        standardOutputFailed_ = true;
        return false;
    }
    stdout_.append(text);
    if (standardOutputRoom) {
        *standardOutputRoom -= text.size();
    }
    return true;
}

void FakeProcess::writeStandardError(std::string_view text) {
    const std::lock_guard lock(mutex_);
    noteWrite();
    stderr_.append(text);
}

void FakeProcess::exit(int status) {
    std::function<void()> notify;
    {
        const std::lock_guard lock(mutex_);
        ++exitCount_;
        if (exitStatus_) {
            actedAfterExit_ = true;
            return;
        }
        exitStatus_ = status;
        notify = onExit;
    }
    if (notify) {
        notify();
    }
}

std::optional<std::string> FakeProcess::readFile(const std::string& path, std::size_t maxBytes) {
    const std::lock_guard lock(mutex_);
    ++filesRead_;
    auto found = files.find(path);
    if (found == files.end()) {
        return std::nullopt;
    }
    return found->second.substr(0, std::min(maxBytes, found->second.size()));
}

std::optional<std::string> FakeProcess::readStandardInput(std::size_t maxBytes) {
    const std::lock_guard lock(mutex_);
    if (!standardInput) {
        return std::nullopt;
    }
    return standardInput->substr(0, std::min(maxBytes, standardInput->size()));
}

std::string FakeProcess::standardOutput() const {
    const std::lock_guard lock(mutex_);
    return stdout_;
}

std::string FakeProcess::standardError() const {
    const std::lock_guard lock(mutex_);
    return stderr_;
}

std::optional<int> FakeProcess::exitStatus() const {
    const std::lock_guard lock(mutex_);
    return exitStatus_;
}

int FakeProcess::exitCount() const {
    const std::lock_guard lock(mutex_);
    return exitCount_;
}

bool FakeProcess::standardOutputFailed() const {
    const std::lock_guard lock(mutex_);
    return standardOutputFailed_;
}

bool FakeProcess::actedAfterExit() const {
    const std::lock_guard lock(mutex_);
    return actedAfterExit_;
}

std::thread::id FakeProcess::outputThread() const {
    const std::lock_guard lock(mutex_);
    return outputThread_;
}

std::size_t FakeProcess::filesRead() const {
    const std::lock_guard lock(mutex_);
    return filesRead_;
}

}  // namespace vxm::platform
