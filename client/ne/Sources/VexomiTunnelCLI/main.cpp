// SPDX-License-Identifier: Apache-2.0
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "UnicodeText.h"
#include "platform/posix/PosixProcess.h"
#include "platform/linux/LinuxRuntime.h"
#include "platform/linux/VPNStoreChoice.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    vxm::platform::PosixProcess process;  // first: it fills closed standard descriptors
    // The store chosen may be a program of its own, which then takes over.
    if (std::optional<std::string> failure = vxm::platform::handOverToChosenStore(argv)) {
        return vxm::tunnel::failToRun(process, *failure);
    }
    // Before the runtime, which may fail for want of descriptors: a missing
    // command word is told as such whatever the limits.
    if (!vxm::tunnel::hasCommandWord(args, process)) {
        return 1;
    }
    std::optional<vxm::platform::LinuxRuntime> runtime;
    try {
        runtime.emplace(vxm::tunnel::canonicallyEqual);
    } catch (const std::exception& error) {
        // Out of file descriptors for the main loop, say: answer all the same.
        return vxm::tunnel::failToRun(process, error.what());
    }
    return vxm::tunnel::runTool(std::move(args), {runtime->mainQueue(), runtime->vpnStore(), process});
}
