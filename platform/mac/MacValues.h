// SPDX-License-Identifier: Apache-2.0
#pragma once
// Conversions between Foundation's values and the platform's, for the macOS
// sources only (Objective-C++). They build with and without ARC: they send
// no retain or release and return autoreleased objects.

#import <Foundation/Foundation.h>

#include <optional>
#include <string>

#include "platform/VPNStore.h"

namespace vxm::platform {

// The UTF-8 text of `string`, NUL characters included; empty for nil.
std::string textOf(NSString* _Nullable string);

// The string holding `text`; nil when it is not valid UTF-8.
NSString* _Nullable stringWith(const std::string& text);

// What an error says: its localized description, or when that is empty its
// domain and code ("NEVPNErrorDomain error 5"); "Unknown error" for nil.
std::string errorText(NSError* _Nullable error);

// A provider configuration, a property list, as the platform's values:
// strings, booleans, integers, reals, arrays and dictionaries map to JSON;
// a value of a kind JSON has no form for (data, a date) is left out, with its
// key or its place in an array, so the rest stays readable.
ProviderConfiguration providerConfigurationFrom(NSDictionary* _Nonnull dictionary);

// The property list of a provider configuration; nil when a value has no
// property-list form (null, or text that is not UTF-8), so that nothing is
// stored but what was asked for.
NSDictionary* _Nullable dictionaryFrom(const ProviderConfiguration& configuration);

// The status a NEVPNStatus value stands for: the same number, which the
// store pins with static_asserts; invalid for a number this code does not
// know (one a later system adds).
VPNStatus vpnStatusFrom(long long status);

}  // namespace vxm::platform
