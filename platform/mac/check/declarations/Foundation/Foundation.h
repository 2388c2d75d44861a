// SPDX-License-Identifier: Apache-2.0
// GNUstep's Foundation, and the members of Apple's Foundation that the macOS
// sources use and GNUstep does not declare, written from Apple's documentation
// of each. For the syntax check only: a build on a Mac uses the SDK's header.
#pragma once
#include_next <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

// NSTask (macOS 10.13): the executable as a file URL, and a launch that
// reports a failure as an error instead of raising an exception.
@interface NSTask (VXMDeclaredMembers)
// NSTask.executableURL
@property(nullable, copy) NSURL* executableURL;
// -[NSTask launchAndReturnError:]
- (BOOL)launchAndReturnError:(out NSError* _Nullable* _Nullable)error;
@end

NS_ASSUME_NONNULL_END
