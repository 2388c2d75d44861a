#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Process.h"

namespace vxm::platform {

// A process for tests: files and standard input come from data the test sets,
// and what the process writes and how it ends are recorded. Not for use from
// two threads at once.
class FakeProcess : public Process {
public:
    // Called at the first exit: tests stop their main queue here, as the end
    // of a real process stops everything.
    std::function<void()> onExit;
    // Readable files by path; any other path cannot be read.
    std::map<std::string, std::string> files;
    std::string standardInput;
    // How many more bytes standard output takes; a write that does not fit
    // writes what fits and fails. None: no limit.
    std::optional<std::size_t> standardOutputRoom;

    std::string standardOutput;
    std::string standardError;
    std::vector<int> exits;  // the status of every call to exit

    [[nodiscard]] bool writeStandardOutput(std::string_view text) override {
        const std::size_t room = std::min(standardOutputRoom.value_or(text.size()), text.size());
        standardOutput.append(text.substr(0, room));
        if (standardOutputRoom) {
            *standardOutputRoom -= room;
        }
        return room == text.size();
    }

    void writeStandardError(std::string_view text) override { standardError.append(text); }

    void exit(int status) override {
        exits.push_back(status);
        if (exits.size() == 1 && onExit) {
            onExit();
        }
    }

    std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes) override {
        auto found = files.find(path);
        return found != files.end() ? std::optional(found->second.substr(0, maxBytes)) : std::nullopt;
    }

    std::optional<std::string> readStandardInput(std::size_t maxBytes) override { return standardInput.substr(0, maxBytes); }
};

}  // namespace vxm::platform
