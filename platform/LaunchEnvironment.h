#pragma once

#include <cstdint>
#include <string>

namespace vxm::platform {

// Where the application runs from and for whom.
class LaunchEnvironment {
public:
    virtual ~LaunchEnvironment() = default;

    // The path of the application bundle folder.
    [[nodiscard]] virtual std::string bundlePath() const = 0;

    // The numeric id of the user the process runs as.
    [[nodiscard]] virtual std::uint32_t userID() const = 0;

    // The path of that user's home folder.
    [[nodiscard]] virtual std::string homeDirectory() const = 0;
};

}  // namespace vxm::platform
