// SPDX-License-Identifier: Apache-2.0
// Compile-only: every Apple method, property, block type and constant the
// macOS sources use, each assigned to (or compared with) a value of exactly
// the type Apple documents. Here it checks our stand-in declarations; the
// first build against the SDK checks those declarations, and a mistake in
// them fails here, in one place, rather than somewhere in the sources.
#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>
#import <NetworkExtension/NetworkExtension.h>
#include <dispatch/dispatch.h>

#include <cstdint>
#include <type_traits>

// The type of `expression` is exactly the type that follows it.
#define VXM_EXACT(expression, ...) static_assert(std::is_same_v<decltype(expression), __VA_ARGS__>, #expression)

namespace {

using ErrorHandler = void (^)(NSError* _Nullable);
using LoadAllHandler = void (^)(NSArray<NETunnelProviderManager*>* _Nullable, NSError* _Nullable);

[[maybe_unused]] void networkExtension(NETunnelProviderManager* manager, NETunnelProviderProtocol* protocol,
                                       NEVPNConnection* connection, ErrorHandler done, LoadAllHandler loaded) {
    NSError* __autoreleasing error = nil;
    VXM_EXACT([NETunnelProviderManager loadAllFromPreferencesWithCompletionHandler:loaded], void);
    VXM_EXACT([manager saveToPreferencesWithCompletionHandler:done], void);
    VXM_EXACT([manager loadFromPreferencesWithCompletionHandler:done], void);
    VXM_EXACT([manager removeFromPreferencesWithCompletionHandler:done], void);
    VXM_EXACT(manager.localizedDescription, NSString*);
    VXM_EXACT(manager.isEnabled, BOOL);
    VXM_EXACT(manager.protocolConfiguration, NEVPNProtocol*);
    VXM_EXACT(manager.connection, NEVPNConnection*);
    VXM_EXACT(protocol.serverAddress, NSString*);
    VXM_EXACT(protocol.providerBundleIdentifier, NSString*);
    VXM_EXACT(protocol.providerConfiguration, NSDictionary<NSString*, id>*);
    VXM_EXACT([connection startVPNTunnelAndReturnError:&error], BOOL);
    VXM_EXACT([connection stopVPNTunnel], void);
    VXM_EXACT(connection.status, NEVPNStatus);
    VXM_EXACT(std::underlying_type_t<NEVPNStatus>{}, NSInteger);
    [[maybe_unused]] NSNotificationName statusChanged = NEVPNStatusDidChangeNotification;
    manager.localizedDescription = @"";
    manager.enabled = YES;
    manager.protocolConfiguration = protocol;
    protocol.serverAddress = @"";
    protocol.providerBundleIdentifier = @"";
    protocol.providerConfiguration = @{};
}

[[maybe_unused]] void appKit(NSApplication* application, NSAppleEventDescriptor* descriptor, id<NSApplicationDelegate> delegate) {
    VXM_EXACT(NSApplication.sharedApplication, __kindof NSApplication*);
    VXM_EXACT(application.delegate, id<NSApplicationDelegate>);
    VXM_EXACT([application setActivationPolicy:NSApplicationActivationPolicyAccessory], BOOL);
    VXM_EXACT([application run], void);
    VXM_EXACT([application terminate:nil], void);
    VXM_EXACT(std::underlying_type_t<NSApplicationActivationPolicy>{}, NSInteger);
    application.delegate = delegate;
    VXM_EXACT([delegate applicationWillFinishLaunching:[NSNotification notificationWithName:@"" object:nil]], void);
    VXM_EXACT([delegate applicationDidFinishLaunching:[NSNotification notificationWithName:@"" object:nil]], void);

    VXM_EXACT([NSAppleEventManager sharedAppleEventManager], NSAppleEventManager*);
    VXM_EXACT([[NSAppleEventManager sharedAppleEventManager] setEventHandler:delegate
                                                                       andSelector:@selector(run)
                                                                     forEventClass:AEEventClass{kCoreEventClass}
                                                                        andEventID:AEEventID{kAEOpenDocuments}], void);
    VXM_EXACT([descriptor paramDescriptorForKeyword:AEKeyword{keyDirectObject}], NSAppleEventDescriptor*);
    VXM_EXACT(descriptor.numberOfItems, NSInteger);
    VXM_EXACT([descriptor descriptorAtIndex:NSInteger{1}], NSAppleEventDescriptor*);
    VXM_EXACT(descriptor.fileURLValue, NSURL*);
    VXM_EXACT(descriptor.stringValue, NSString*);
    VXM_EXACT(FourCharCode{}, std::uint32_t);
}

[[maybe_unused]] void foundation(NSTask* task, NSURL* url) {
    NSError* __autoreleasing error = nil;
    VXM_EXACT(task.executableURL, NSURL*);
    VXM_EXACT([task launchAndReturnError:&error], BOOL);
    task.executableURL = url;
}

[[maybe_unused]] void dispatch(dispatch_block_t block, dispatch_source_t source) {
    VXM_EXACT(dispatch_get_main_queue(), dispatch_queue_main_t);
    [[maybe_unused]] void (*async)(dispatch_queue_t, dispatch_block_t) = &dispatch_async;
    [[maybe_unused]] void (*after)(dispatch_time_t, dispatch_queue_t, dispatch_block_t) = &dispatch_after;
    [[maybe_unused]] dispatch_time_t (*time)(dispatch_time_t, int64_t) = &dispatch_time;
    [[maybe_unused]] dispatch_source_t (*create)(dispatch_source_type_t, uintptr_t, uintptr_t, dispatch_queue_t) =
        &dispatch_source_create;
    [[maybe_unused]] void (*handler)(dispatch_source_t, dispatch_block_t) = &dispatch_source_set_event_handler;
    [[maybe_unused]] void (*cancel)(dispatch_source_t) = &dispatch_source_cancel;
    [[maybe_unused]] void (*resume)(dispatch_object_t) = &dispatch_resume;
    VXM_EXACT(DISPATCH_SOURCE_TYPE_READ, dispatch_source_type_t);
    [[maybe_unused]] const dispatch_time_t now = DISPATCH_TIME_NOW;
    [[maybe_unused]] const std::uint64_t millisecond = NSEC_PER_MSEC;
    dispatch_source_set_event_handler(source, block);
}

// Foundation as GNUstep declares it, which types some results more loosely
// than Apple (id for an object type): assigned to variables of Apple's types.
[[maybe_unused]] void foundationBoth(NSError* error, NSString* string, void (^observer)(NSNotification*)) {
    [[maybe_unused]] id<NSObject> token = [[NSNotificationCenter defaultCenter]
        addObserverForName:NEVPNStatusDidChangeNotification
                    object:nil
                     queue:[NSOperationQueue mainQueue]
                usingBlock:observer];
    [[maybe_unused]] NSString* description = error.localizedDescription;
    [[maybe_unused]] NSErrorDomain domain = error.domain;
    [[maybe_unused]] NSInteger code = error.code;
    [[maybe_unused]] NSData* bytes = [string dataUsingEncoding:NSUTF8StringEncoding];
    [[maybe_unused]] NSString* decoded = [[NSString alloc] initWithBytes:"" length:0 encoding:NSUTF8StringEncoding];
    [[maybe_unused]] NSURL* url = [NSURL fileURLWithPath:string];
    [[maybe_unused]] NSString* path = url.path;
    [[maybe_unused]] BOOL isFile = url.isFileURL;
    [[maybe_unused]] NSString* bundle = [NSBundle mainBundle].bundlePath;
    [[maybe_unused]] NSString* home = NSHomeDirectory();
    [[maybe_unused]] NSString* name = NSStringFromClass([NEVPNProtocol class]);
}

}  // namespace
