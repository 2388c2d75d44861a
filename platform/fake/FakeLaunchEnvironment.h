#pragma once

#include <cstdint>
#include <string>

#include "platform/LaunchEnvironment.h"

namespace vxm::platform {

// A launch environment for tests, answering with the values set here.
class FakeLaunchEnvironment : public LaunchEnvironment {
public:
    std::string bundle = "/Applications/Vexomi.app";
    std::uint32_t uid = 501;
    std::string home = "/Users/ana";

    std::string bundlePath() const override { return bundle; }
    std::uint32_t userID() const override { return uid; }
    std::string homeDirectory() const override { return home; }
};

}  // namespace vxm::platform
