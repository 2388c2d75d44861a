// SPDX-License-Identifier: Apache-2.0
// What the macOS sources use of AppKit and of the Apple event constants it
// brings in, declared from Apple's documentation of each name. For the syntax
// check only (Debian's GNUstep packages have no AppKit headers without the GUI
// library, and declare NSAppleEventManager and NSAppleEventDescriptor as empty
// classes): a build on a Mac uses the SDK's <AppKit/AppKit.h>.
#pragma once
#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

// Apple event types (CoreServices, AE): OSType, AEEventClass, AEEventID,
// AEKeyword, each a four-character code.
typedef uint32_t FourCharCode;
typedef FourCharCode OSType;
typedef FourCharCode AEEventClass;
typedef FourCharCode AEEventID;
typedef FourCharCode AEKeyword;

// kCoreEventClass ('aevt'), kAEOpenDocuments ('odoc'), keyDirectObject ('----')
enum {
    kCoreEventClass = 0x61657674,
    kAEOpenDocuments = 0x6f646f63,
    keyDirectObject = 0x2d2d2d2d,
};

// NSAppleEventDescriptor: the members the launcher reads.
@interface NSAppleEventDescriptor (VXMDeclaredMembers)
// -[NSAppleEventDescriptor paramDescriptorForKeyword:]
- (nullable NSAppleEventDescriptor*)paramDescriptorForKeyword:(AEKeyword)keyword;
// NSAppleEventDescriptor.numberOfItems
@property(readonly) NSInteger numberOfItems;
// -[NSAppleEventDescriptor descriptorAtIndex:], counted from 1
- (nullable NSAppleEventDescriptor*)descriptorAtIndex:(NSInteger)index;
// NSAppleEventDescriptor.fileURLValue (macOS 10.11)
@property(nullable, readonly, copy) NSURL* fileURLValue;
// NSAppleEventDescriptor.stringValue
@property(nullable, readonly, copy) NSString* stringValue;
@end

// NSAppleEventManager: the shared manager and handler registration.
@interface NSAppleEventManager (VXMDeclaredMembers)
// +[NSAppleEventManager sharedAppleEventManager]
+ (NSAppleEventManager*)sharedAppleEventManager;
// -[NSAppleEventManager setEventHandler:andSelector:forEventClass:andEventID:]:
// the handler is not retained; the selector takes the event and the reply.
- (void)setEventHandler:(id)handler
            andSelector:(SEL)handleEventSelector
          forEventClass:(AEEventClass)eventClass
             andEventID:(AEEventID)eventID;
@end

// NSApplicationActivationPolicy
typedef NS_ENUM(NSInteger, NSApplicationActivationPolicy) {
    NSApplicationActivationPolicyRegular = 0,
    NSApplicationActivationPolicyAccessory = 1,
    NSApplicationActivationPolicyProhibited = 2,
};

// NSApplicationDelegate: the two launch notifications, both optional.
@protocol NSApplicationDelegate <NSObject>
@optional
// -[NSApplicationDelegate applicationWillFinishLaunching:]
- (void)applicationWillFinishLaunching:(NSNotification*)notification;
// -[NSApplicationDelegate applicationDidFinishLaunching:]
- (void)applicationDidFinishLaunching:(NSNotification*)notification;
@end

// NSApplication (declared here on NSObject: only these members are used).
@interface NSApplication : NSObject
// NSApplication.sharedApplication
@property(class, readonly, strong) __kindof NSApplication* sharedApplication;
// NSApplication.delegate, held weakly
@property(nullable, weak) id<NSApplicationDelegate> delegate;
// -[NSApplication setActivationPolicy:]
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
// -[NSApplication run]
- (void)run;
// -[NSApplication terminate:]
- (void)terminate:(nullable id)sender;
@end

NS_ASSUME_NONNULL_END
