#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Process.h"

namespace vxm::platform {

// The running process: C standard streams, POSIX file reads, and an exit that
// flushes standard output and ends the process without running destructors.
class LinuxProcess final : public Process {
public:
    void writeStandardOutput(std::string_view text) override;
    void writeStandardError(std::string_view text) override;
    [[noreturn]] void exit(int status) override;
    std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes) override;
    std::optional<std::string> readStandardInput(std::size_t maxBytes) override;
};

// Reads `fd` from its current position until end of file or `maxBytes`
// bytes; no value on a read error. Retries reads that a signal interrupted.
std::optional<std::string> readDescriptor(int fd, std::size_t maxBytes);

}  // namespace vxm::platform
