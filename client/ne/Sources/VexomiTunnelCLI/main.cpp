#include <string>
#include <vector>

#include "Commands.h"
#include "platform/linux/LinuxRuntime.h"

int main(int argc, char** argv) {
    vxm::platform::LinuxRuntime runtime;
    return vxm::tunnel::runTool(std::vector<std::string>(argv, argv + argc),
                                {runtime.mainQueue(), runtime.vpnStore(), runtime.process()});
}
