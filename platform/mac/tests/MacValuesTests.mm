// SPDX-License-Identifier: Apache-2.0
// The decisions of the macOS conversions, run against GNUstep's Foundation
// (without ARC, which needs a runtime Debian does not package) by
// `scripts/check macos`.
#include "platform/mac/MacValues.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace vxm::platform {
namespace {

using nlohmann::json;

// Each row: a provider configuration and the property list it becomes; then
// the property list read back must be the configuration again.
TEST(MacValuesTest, ProviderConfigurationsRoundTripThroughPropertyLists) {
    const std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    const std::uint64_t highest = std::numeric_limits<std::uint64_t>::max();
    const ProviderConfiguration rows[] = {
        {},
        {{"address", "10.64.0.2/32"}, {"privateKey", std::string("a\0b", 3)}, {"ü", "€"}},
        {{"on", true}, {"off", false}, {"zero", 0}, {"one", 1}},
        {{"lowest", lowest}, {"highest", highest}, {"real", 2.5}, {"negative", -7}, {"odd", 9007199254740993}},
        {{"peers", json::array({json::object({{"key", "k"}, {"ips", json::array({"a", "b"})}}), 3, json::array()})}},
        {{"empty", json::object()}},
    };
    for (const ProviderConfiguration& row : rows) {
        @autoreleasepool {
            NSDictionary* dictionary = dictionaryFrom(row);
            ASSERT_NE(dictionary, nil) << json(row).dump();
            // As text, so that 1 and 1.0, or a rounded 2^53 + 1, differ.
            EXPECT_EQ(json(providerConfigurationFrom(dictionary)).dump(), json(row).dump());
        }
    }
    @autoreleasepool {
        NSDictionary* flags = dictionaryFrom({{"on", true}, {"one", 1}});
        // A boolean stays a boolean, and 1 a number, for the provider.
        EXPECT_TRUE([[flags objectForKey:@"on"] isKindOfClass:[[NSNumber numberWithBool:YES] class]]);
        EXPECT_FALSE([[flags objectForKey:@"one"] isKindOfClass:[[NSNumber numberWithBool:YES] class]]);
    }
}

TEST(MacValuesTest, WhatHasNoFormOnTheOtherSide) {
    @autoreleasepool {
        // No property list holds a null, or text that is not UTF-8: nothing is stored.
        const ProviderConfiguration refused[] = {
            {{"a", nullptr}},
            {{"a", json::array({"x", nullptr})}},
            {{"a", "\xff"}},
            {{"\xc3", "x"}},
            {{"a", json::object({{"b", json::object({{"c", nullptr}})}})}},
        };
        for (const ProviderConfiguration& row : refused) {
            EXPECT_EQ(dictionaryFrom(row), nil) << json(row).dump();
        }
        // Data, dates and keys that are not text are left out of what is read.
        NSMutableDictionary* stored = [NSMutableDictionary dictionary];
        [stored setObject:@"kept" forKey:@"text"];
        [stored setObject:[NSData data] forKey:@"data"];
        [stored setObject:[NSArray arrayWithObjects:[NSDate date], @"x", nil] forKey:@"list"];
        [stored setObject:@"lost" forKey:[NSNumber numberWithInt:1]];
        EXPECT_EQ(providerConfigurationFrom(stored),
                  (ProviderConfiguration{{"text", "kept"}, {"list", json::array({"x"})}}));
    }
}

TEST(MacValuesTest, ErrorsAreTheirDescriptionElseDomainAndCode) {
    @autoreleasepool {
        NSDictionary* described = [NSDictionary dictionaryWithObject:@"The VPN configuration is invalid."
                                                              forKey:NSLocalizedDescriptionKey];
        NSDictionary* empty = [NSDictionary dictionaryWithObject:@"" forKey:NSLocalizedDescriptionKey];
        EXPECT_EQ(errorText([NSError errorWithDomain:@"NEVPNErrorDomain" code:1 userInfo:described]),
                  "The VPN configuration is invalid.");
        EXPECT_EQ(errorText([NSError errorWithDomain:@"NEVPNErrorDomain" code:5 userInfo:empty]),
                  "NEVPNErrorDomain error 5");
        EXPECT_EQ(errorText(nil), "Unknown error");
    }
}

TEST(MacValuesTest, StatusesAreTheSystemsNumbersAndUnknownOnesInvalid) {
    const std::pair<long long, VPNStatus> rows[] = {
        {0, VPNStatus::invalid},      {1, VPNStatus::disconnected},  {3, VPNStatus::connected},
        {5, VPNStatus::disconnecting}, {6, VPNStatus::invalid},       {-1, VPNStatus::invalid},
    };
    for (const auto& [status, expected] : rows) {
        EXPECT_EQ(vpnStatusFrom(status), expected) << status;
    }
}

}  // namespace
}  // namespace vxm::platform
