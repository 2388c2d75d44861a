// SPDX-License-Identifier: Apache-2.0
// vxm-launcher: the application bundle's main executable. Documents to open
// come as arguments, paths or file: URIs.
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "launcher/AppDelegate.h"
#include "platform/linux/LinuxChildProcess.h"
#include "platform/linux/LinuxLauncherPlatform.h"

int main(int argc, char** argv) {
    using namespace vxm;
    // The launcher ends quietly with 0 whatever fails, memory or descriptors
    // running out included: nobody reads what it would say.
    std::set_terminate([] { std::_Exit(0); });
    try {
        std::vector<std::string> documents;
        if (argc > 1) {
            documents.assign(argv + 1, argv + argc);
        }
        platform::LauncherMainQueue mainQueue;
        platform::LinuxAppleEventManager appleEvents;
        platform::LinuxApplication application(mainQueue, appleEvents, std::move(documents));
        platform::LinuxChildProcesses childProcesses;
        platform::LinuxLaunchEnvironment environment;

        launcher::delegate = std::make_shared<launcher::AppDelegate>(
            launcher::LauncherPlatform{application, appleEvents, mainQueue, childProcesses, environment});
        application.setDelegate(launcher::delegate.get());
        application.run();
    } catch (...) {  // NOLINT(bugprone-empty-catch): dropped, as every failure of the launcher
    }
    return 0;
}
