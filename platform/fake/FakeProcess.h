// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Process.h"

namespace vxm::platform {

// A process for tests: it reads what the test sets and records what it writes
// and every exit status.
class FakeProcess : public Process {
public:
    std::function<void()> onExit;  // called at the first exit, which in a real process ends everything
    std::map<std::string, std::string> files;  // the readable files by path
    std::string standardInput;
    std::optional<std::size_t> standardOutputRoom;  // a longer write gets this much out and fails
    std::string standardOutput;
    std::string standardError;
    std::vector<int> exits;

    [[nodiscard]] bool writeStandardOutput(std::string_view text) override {
        standardOutput.append(text.substr(0, standardOutputRoom.value_or(text.size())));
        return text.size() <= standardOutputRoom.value_or(text.size());
    }
    void writeStandardError(std::string_view text) override { standardError.append(text); }
    void exit(int status) override {
        exits.push_back(status);
        if (exits.size() == 1 && onExit) {
            onExit();
        }
    }

    std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes) override {
        return files.contains(path) ? std::optional(files[path].substr(0, maxBytes)) : std::nullopt;
    }
    std::optional<std::string> readStandardInput(std::size_t maxBytes) override {
        return standardInput.substr(0, maxBytes);
    }
};

}  // namespace vxm::platform
