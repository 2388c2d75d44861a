// SPDX-License-Identifier: Apache-2.0
// vxm-tunnel on macOS: the system's VPN configurations through
// NetworkExtension, the main dispatch queue under an application without a
// window, and the POSIX process.
#import <Foundation/Foundation.h>

#include <string>
#include <utility>
#include <vector>

#include "Commands.h"
#include "platform/mac/MacMainQueue.h"
#include "platform/mac/MacVPNStore.h"
#include "platform/posix/PosixProcess.h"

int main(int argc, char** argv) {
    using namespace vxm;
    @autoreleasepool {
        platform::PosixProcess process;  // first: it fills closed standard descriptors
        std::vector<std::string> args(argv, argv + argc);
        if (!tunnel::hasCommandWord(args, process)) {  // before anything that may fail for want of resources
            return 1;
        }
        platform::MacMainQueue mainQueue;
        platform::MacVPNStore store;
        return tunnel::runTool(std::move(args), {mainQueue, store, process});
    }
}
