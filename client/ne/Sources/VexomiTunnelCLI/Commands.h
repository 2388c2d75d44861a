#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/MainQueue.h"
#include "platform/Process.h"
#include "platform/VPNStore.h"

namespace vxm::tunnel {

// The platform services one run of the tool works through.
struct Application {
    platform::MainQueue& mainQueue;
    platform::VPNConfigurationStore& store;
    platform::Process& process;
};

// Runs vxm-tunnel with the process arguments, program path first: checks for
// a command word, queues the dispatcher on the main queue and runs the loop.
// The run ends through process.exit; returns 0 only if the loop ever returns.
int runTool(std::vector<std::string> args, Application app);

}  // namespace vxm::tunnel
