#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "platform/posix/PosixProcess.h"
#include "platform/linux/LinuxRuntime.h"

int main(int argc, char** argv) {
    std::optional<vxm::platform::LinuxRuntime> runtime;
    try {
        runtime.emplace();
    } catch (const std::exception& error) {
        // Out of file descriptors for the main loop, say: answer all the same.
        vxm::platform::PosixProcess process;
        return vxm::tunnel::failToRun(process, error.what());
    }
    return vxm::tunnel::runTool(std::vector<std::string>(argv, argv + argc),
                                {runtime->mainQueue(), runtime->vpnStore(), runtime->process()});
}
