#include "platform/mac/MacMainQueue.h"

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

#include <cstdint>
#include <memory>
#include <utility>

namespace vxm::platform {

namespace {

// A block that runs the work once. The block owns a copy of the function;
// a block captures C++ objects by copy, so the work is held by a shared
// pointer and moved out when it runs.
dispatch_block_t blockRunning(MainQueue::Work work) {
    auto held = std::make_shared<MainQueue::Work>(std::move(work));
    return ^{
        MainQueue::Work once = std::move(*held);
        if (once) {
            once();
        }
    };
}

}  // namespace

void MacMainQueue::async(Work work) {
    dispatch_async(dispatch_get_main_queue(), blockRunning(std::move(work)));
}

void MacMainQueue::asyncAfter(std::chrono::milliseconds delay, Work work) {
    const auto milliseconds = static_cast<std::int64_t>(delay.count() < 0 ? 0 : delay.count());
    const dispatch_time_t when =
        dispatch_time(DISPATCH_TIME_NOW, milliseconds * static_cast<std::int64_t>(NSEC_PER_MSEC));
    dispatch_after(when, dispatch_get_main_queue(), blockRunning(std::move(work)));
}

void MacMainQueue::run() {
    NSApplication* application = [NSApplication sharedApplication];
    [application setActivationPolicy:NSApplicationActivationPolicyAccessory];
    [application run];
}

}  // namespace vxm::platform
