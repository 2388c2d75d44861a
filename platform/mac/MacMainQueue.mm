// SPDX-License-Identifier: Apache-2.0
#include "platform/mac/MacMainQueue.h"

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <system_error>
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

// Keeps a read source running; cancelling it stops the handler before the
// next event, and on the main thread none is running meanwhile.
class SourceWatch final : public MainQueue::Watch {
public:
    explicit SourceWatch(dispatch_source_t source) : source_(source) {}
    ~SourceWatch() override { dispatch_source_cancel(source_); }
    SourceWatch(const SourceWatch&) = delete;
    SourceWatch& operator=(const SourceWatch&) = delete;

private:
    dispatch_source_t source_;
};

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

std::unique_ptr<MainQueue::Watch> MacMainQueue::watchReadable(int fd, std::function<void()> onReadable) {
    dispatch_source_t source =
        dispatch_source_create(DISPATCH_SOURCE_TYPE_READ, static_cast<uintptr_t>(fd), 0, dispatch_get_main_queue());
    if (source == nil) {
        throw std::system_error(EBADF, std::generic_category(), "cannot watch descriptor " + std::to_string(fd));
    }
    auto held = std::make_shared<std::function<void()>>(std::move(onReadable));
    dispatch_source_set_event_handler(source, ^{
        (*held)();
    });
    dispatch_resume(source);
    return std::make_unique<SourceWatch>(source);
}

void MacMainQueue::run() {
    NSApplication* application = [NSApplication sharedApplication];
    [application setActivationPolicy:NSApplicationActivationPolicyAccessory];
    [application run];
}

}  // namespace vxm::platform
