// SPDX-License-Identifier: Apache-2.0
#include "platform/mac/MacApplication.h"

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

#include <cstdlib>

// Forwards NSApplicationDelegate's launch notifications to a C++ delegate.
@interface VXMApplicationDelegateBridge : NSObject <NSApplicationDelegate>
- (instancetype)initWithDelegate:(vxm::platform::ApplicationDelegate*)delegate;
@end

@implementation VXMApplicationDelegateBridge {
    vxm::platform::ApplicationDelegate* _delegate;
}

- (instancetype)initWithDelegate:(vxm::platform::ApplicationDelegate*)delegate {
    if ((self = [super init])) {
        _delegate = delegate;
    }
    return self;
}

- (void)applicationWillFinishLaunching:(NSNotification*)notification {
    (void)notification;
    _delegate->applicationWillFinishLaunching();
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    (void)notification;
    _delegate->applicationDidFinishLaunching();
}

@end

namespace vxm::platform {

struct MacApplication::Bridge {
    VXMApplicationDelegateBridge* object = nil;
};

MacApplication::MacApplication() : bridge_(std::make_unique<Bridge>()) {}

MacApplication::~MacApplication() = default;

void MacApplication::setDelegate(ApplicationDelegate* delegate) {
    NSApplication* application = [NSApplication sharedApplication];
    bridge_->object = delegate == nullptr ? nil : [[VXMApplicationDelegateBridge alloc] initWithDelegate:delegate];
    application.delegate = bridge_->object;
}

void MacApplication::run() {
    [[NSApplication sharedApplication] run];
}

void MacApplication::terminate() {
    [[NSApplication sharedApplication] terminate:nil];
    // terminate: returns only when a delegate cancels the termination, which
    // the bridge never does; the launcher relies on nothing running after.
    std::_Exit(EXIT_SUCCESS);
}

}  // namespace vxm::platform
