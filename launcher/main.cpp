// SPDX-License-Identifier: Apache-2.0
// vxm-launcher: the application bundle's main executable. Documents to open
// come as arguments, paths or file: URIs.
#include <memory>
#include <string>
#include <vector>

#include "launcher/AppDelegate.h"
#include "platform/linux/AsioMainQueue.h"
#include "platform/linux/LinuxChildProcess.h"
#include "platform/linux/LinuxLauncherPlatform.h"

int main(int argc, char** argv) {
    using namespace vxm;
    std::vector<std::string> documents;
    if (argc > 1) {
        documents.assign(argv + 1, argv + argc);
    }
    platform::AsioMainQueue mainQueue;
    platform::LinuxAppleEventManager appleEvents;
    platform::LinuxApplication application(mainQueue, appleEvents, std::move(documents));
    platform::LinuxChildProcesses childProcesses;
    platform::LinuxLaunchEnvironment environment;

    launcher::delegate = std::make_shared<launcher::AppDelegate>(
        launcher::LauncherPlatform{application, appleEvents, mainQueue, childProcesses, environment});
    application.setDelegate(launcher::delegate.get());
    application.run();
    return 0;
}
