#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/Process.h"

namespace vxm::platform {

// A process for tests: files and standard input come from data the test sets,
// and everything the process does to the world is recorded.
class FakeProcess : public Process {
public:
    // Called once, at the first exit: tests stop their main queue here, as the
    // end of a real process stops everything.
    std::function<void()> onExit;

    // Readable files by path; any other path cannot be read.
    std::map<std::string, std::string> files;
    // Standard input; none makes reading it fail.
    std::optional<std::string> standardInput = std::string();
    // How many more bytes standard output takes; a write that does not fit
    // writes what fits and fails (a full disk at 0, a full pipe). None: no limit.
    std::optional<std::size_t> standardOutputRoom;

    [[nodiscard]] bool writeStandardOutput(std::string_view text) override;
    void writeStandardError(std::string_view text) override;
    void exit(int status) override;
    std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes) override;
    std::optional<std::string> readStandardInput(std::size_t maxBytes) override;

    [[nodiscard]] std::string standardOutput() const;
    [[nodiscard]] std::string standardError() const;
    // The status of the first exit; none while the process has not exited.
    [[nodiscard]] std::optional<int> exitStatus() const;
    [[nodiscard]] int exitCount() const;
    // True when a write to standard output has failed.
    [[nodiscard]] bool standardOutputFailed() const;
    // True when anything was written, or exit called again, after the first exit.
    [[nodiscard]] bool actedAfterExit() const;
    // The thread that wrote standard output last.
    [[nodiscard]] std::thread::id outputThread() const;
    [[nodiscard]] std::size_t filesRead() const;

private:
    void noteWrite();

    mutable std::mutex mutex_;
    std::string stdout_;
    std::string stderr_;
    std::optional<int> exitStatus_;
    int exitCount_ = 0;
    bool standardOutputFailed_ = false;
    bool actedAfterExit_ = false;
    std::thread::id outputThread_;
    std::size_t filesRead_ = 0;
};

}  // namespace vxm::platform
