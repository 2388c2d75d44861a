// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Process.h"

namespace vxm::platform {

// The running process: standard output written straight to its descriptor,
// standard error through the C stream, POSIX file reads, and an exit that
// ends the process without running destructors.
class PosixProcess final : public Process {
public:
    // Ignores SIGPIPE for the whole process, so that writing to a pipe whose
    // reader has gone fails with EPIPE, to be reported, instead of ending the
    // process silently. Puts /dev/null, read-only, on any of descriptors 0 to
    // 2 that is closed, so that no file opened later takes a stream's place
    // and writes to a closed stream still fail. Construct it before anything
    // opens a descriptor.
    PosixProcess();

    [[nodiscard]] bool writeStandardOutput(std::string_view text) override;
    void writeStandardError(std::string_view text) override;
    [[noreturn]] void exit(int status) override;
    std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes) override;
    std::optional<std::string> readStandardInput(std::size_t maxBytes) override;
};

// Reads `fd` from its current position until end of file or `maxBytes`
// bytes; no value on a read error. Retries reads that a signal interrupted.
std::optional<std::string> readDescriptor(int fd, std::size_t maxBytes);

}  // namespace vxm::platform
