// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vxm::platform {

// What a command-line process does with the world outside its store: its
// standard streams, the files it reads and how it ends.
class Process {
public:
    virtual ~Process() = default;

    // Writes all of `text` to standard output, unbuffered. False when any of
    // it did not get there (a closed or broken pipe, a full disk, a closed
    // descriptor): then part of it may have.
    [[nodiscard]] virtual bool writeStandardOutput(std::string_view text) = 0;
    // Writes to standard error; a failure has no one to be reported to.
    virtual void writeStandardError(std::string_view text) = 0;

    // Ends the process with `status` after standard output has been flushed.
    // Safe from any thread, also while the main thread is inside the loop: no
    // static destructor runs. The real implementation never returns; a fake
    // records the status and returns, so callers return right after it.
    virtual void exit(int status) = 0;

    // Reads the file at `path` from its start, at most `maxBytes` bytes.
    // No value when it cannot be opened or read (missing, no permission, a
    // directory, a read error).
    virtual std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes) = 0;

    // Reads standard input to its end, at most `maxBytes` bytes. No value on
    // a read error.
    virtual std::optional<std::string> readStandardInput(std::size_t maxBytes) = 0;
};

}  // namespace vxm::platform
