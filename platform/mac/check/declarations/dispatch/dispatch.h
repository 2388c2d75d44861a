// SPDX-License-Identifier: Apache-2.0
// What the macOS sources use of Grand Central Dispatch, declared from Apple's
// documentation of each name. For the syntax check only (GNUstep has no
// dispatch headers): a build on a Mac uses the SDK's <dispatch/dispatch.h>.
// Under ARC, dispatch objects are Objective-C objects, as Apple documents.
#pragma once
#import <Foundation/Foundation.h>

#include <stdint.h>

NS_ASSUME_NONNULL_BEGIN

// dispatch_object_t and its kinds: queues, the main queue, sources.
@protocol OS_dispatch_object <NSObject>
@end
@protocol OS_dispatch_queue <OS_dispatch_object>
@end
@protocol OS_dispatch_queue_serial <OS_dispatch_queue>
@end
@protocol OS_dispatch_queue_main <OS_dispatch_queue_serial>
@end
@protocol OS_dispatch_source <OS_dispatch_object>
@end
// dispatch_object_t
typedef NSObject<OS_dispatch_object>* dispatch_object_t;
// dispatch_queue_t
typedef NSObject<OS_dispatch_queue>* dispatch_queue_t;
// dispatch_queue_main_t (the type dispatch_get_main_queue returns)
typedef NSObject<OS_dispatch_queue_main>* dispatch_queue_main_t;
// dispatch_source_t
typedef NSObject<OS_dispatch_source>* dispatch_source_t;
// dispatch_block_t
typedef void (^dispatch_block_t)(void);
// dispatch_time_t: nanoseconds on the clock the constant names.
typedef uint64_t dispatch_time_t;
// dispatch_source_type_t: an opaque constant naming a kind of source.
typedef const struct dispatch_source_type_s* dispatch_source_type_t;

#if defined(__cplusplus)
extern "C" {
#endif

// DISPATCH_TIME_NOW
#define DISPATCH_TIME_NOW (0ull)
// NSEC_PER_MSEC
#define NSEC_PER_MSEC 1000000ull

// dispatch_get_main_queue()
dispatch_queue_main_t dispatch_get_main_queue(void);
// dispatch_async(_:_:)
void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);
// dispatch_after(_:_:_:)
void dispatch_after(dispatch_time_t when, dispatch_queue_t queue, dispatch_block_t block);
// dispatch_time(_:_:)
dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta);

// DISPATCH_SOURCE_TYPE_READ: a source that fires while a descriptor has
// bytes to read. The name behind it is this header's own.
extern const struct dispatch_source_type_s vxm_declared_dispatch_source_type_read;
#define DISPATCH_SOURCE_TYPE_READ (&vxm_declared_dispatch_source_type_read)
// dispatch_source_create(_:_:_:_:)
dispatch_source_t _Nullable dispatch_source_create(dispatch_source_type_t type, uintptr_t handle, uintptr_t mask,
                                                   dispatch_queue_t _Nullable queue);
// dispatch_source_set_event_handler(_:_:)
void dispatch_source_set_event_handler(dispatch_source_t source, dispatch_block_t _Nullable handler);
// dispatch_source_cancel(_:)
void dispatch_source_cancel(dispatch_source_t source);
// dispatch_resume(_:)
void dispatch_resume(dispatch_object_t object);

#if defined(__cplusplus)
}
#endif

NS_ASSUME_NONNULL_END
