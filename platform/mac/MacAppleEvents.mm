// SPDX-License-Identifier: Apache-2.0
#include "platform/mac/MacAppleEvents.h"

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

#include <memory>
#include <string>

#include "platform/mac/MacValues.h"

// The codes the launcher registers for and reads are Apple's own.
static_assert(vxm::platform::kCoreEventClass == ::kCoreEventClass);
static_assert(vxm::platform::kAEOpenDocuments == ::kAEOpenDocuments);
static_assert(vxm::platform::keyDirectObject == ::keyDirectObject);

namespace vxm::platform {

namespace {

// An NSAppleEventDescriptor read through the platform's interface. nil reads
// as a descriptor without parameters, items or values.
class MacAppleEventDescriptor final : public AppleEventDescriptor {
public:
    explicit MacAppleEventDescriptor(NSAppleEventDescriptor* _Nullable descriptor) : descriptor_(descriptor) {}

    [[nodiscard]] Ref paramDescriptor(FourCharCode keyword) const override {
        return wrap([descriptor_ paramDescriptorForKeyword:keyword]);
    }

    [[nodiscard]] std::int64_t numberOfItems() const override {
        return static_cast<std::int64_t>(descriptor_.numberOfItems);
    }

    [[nodiscard]] Ref descriptorAtIndex(std::int64_t index) const override {
        return wrap([descriptor_ descriptorAtIndex:static_cast<NSInteger>(index)]);
    }

    [[nodiscard]] std::optional<std::string> fileURLPath() const override {
        NSURL* url = descriptor_.fileURLValue;
        if (url == nil || !url.isFileURL || url.path == nil) {
            return std::nullopt;
        }
        return textOf(url.path);
    }

    [[nodiscard]] std::optional<std::string> stringValue() const override {
        NSString* string = descriptor_.stringValue;
        if (string == nil) {
            return std::nullopt;
        }
        return textOf(string);
    }

private:
    static Ref wrap(NSAppleEventDescriptor* _Nullable descriptor) {
        if (descriptor == nil) {
            return nullptr;
        }
        return std::make_shared<const MacAppleEventDescriptor>(descriptor);
    }

    NSAppleEventDescriptor* _Nullable descriptor_;
};

}  // namespace

}  // namespace vxm::platform

// The target of one registration: the selector NSAppleEventManager calls
// with the event and the reply.
@interface VXMAppleEventHandler : NSObject
- (instancetype)initWithHandler:(vxm::platform::AppleEventManager::Handler)handler;
- (void)handleEvent:(NSAppleEventDescriptor*)event withReplyEvent:(NSAppleEventDescriptor*)reply;
@end

@implementation VXMAppleEventHandler {
    vxm::platform::AppleEventManager::Handler _handler;
}

- (instancetype)initWithHandler:(vxm::platform::AppleEventManager::Handler)handler {
    if ((self = [super init])) {
        _handler = std::move(handler);
    }
    return self;
}

- (void)handleEvent:(NSAppleEventDescriptor*)event withReplyEvent:(NSAppleEventDescriptor*)reply {
    if (_handler) {
        _handler(vxm::platform::MacAppleEventDescriptor(event), vxm::platform::MacAppleEventDescriptor(reply));
    }
}

@end

namespace vxm::platform {

struct MacAppleEventManager::Handlers {
    std::map<std::pair<FourCharCode, FourCharCode>, VXMAppleEventHandler*> registered;
};

MacAppleEventManager::MacAppleEventManager() : handlers_(std::make_unique<Handlers>()) {}

MacAppleEventManager::~MacAppleEventManager() = default;

void MacAppleEventManager::setEventHandler(Handler handler, FourCharCode eventClass, FourCharCode eventID) {
    VXMAppleEventHandler* target = [[VXMAppleEventHandler alloc] initWithHandler:std::move(handler)];
    [[NSAppleEventManager sharedAppleEventManager] setEventHandler:target
                                                       andSelector:@selector(handleEvent:withReplyEvent:)
                                                     forEventClass:eventClass
                                                        andEventID:eventID];
    // Kept after the manager has its pointer: the one it replaces goes only now.
    handlers_->registered[{eventClass, eventID}] = target;
}

}  // namespace vxm::platform
