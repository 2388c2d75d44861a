// SPDX-License-Identifier: Apache-2.0
// vxm-launcher on macOS: the bundle's main executable. Documents come as the
// open-documents Apple event; the agent lies in the bundle.
#import <Foundation/Foundation.h>

#include <unistd.h>

#include <memory>

#include "launcher/AppDelegate.h"
#include "platform/mac/MacAppleEvents.h"
#include "platform/mac/MacApplication.h"
#include "platform/mac/MacChildProcess.h"
#include "platform/mac/MacLaunchEnvironment.h"
#include "platform/mac/MacMainQueue.h"
#include "platform/mac/MacValues.h"

int main() {
    using namespace vxm;
    @autoreleasepool {
        platform::MacMainQueue mainQueue;
        platform::MacAppleEventManager appleEvents;
        platform::MacApplication application;
        platform::MacChildProcesses childProcesses;
        platform::MacLaunchEnvironment environment(platform::textOf([[NSBundle mainBundle] bundlePath]), ::getuid(),
                                                   platform::textOf(NSHomeDirectory()));

        launcher::delegate = std::make_shared<launcher::AppDelegate>(
            launcher::LauncherPlatform{application, appleEvents, mainQueue, childProcesses, environment});
        application.setDelegate(launcher::delegate.get());
        application.run();
    }
    return 0;
}
