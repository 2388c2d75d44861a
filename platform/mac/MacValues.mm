// SPDX-License-Identifier: Apache-2.0
#include "platform/mac/MacValues.h"

#include <cstdint>
#include <limits>
#include <utility>

namespace vxm::platform {

namespace {

std::optional<nlohmann::json> jsonFrom(id _Nullable value);

// Foundation keeps booleans in a class of their own (__NSCFBoolean on macOS,
// NSBoolNumber in GNUstep); telling them apart from 0 and 1 by objCType is
// unreliable ('c' is also a signed char), so the class decides.
bool isBoolean(NSNumber* number) {
    static Class booleanClass = [[NSNumber numberWithBool:YES] class];
    return [number isKindOfClass:booleanClass];
}

nlohmann::json jsonFromNumber(NSNumber* number) {
    if (isBoolean(number)) {
        return static_cast<bool>([number boolValue]);
    }
    const char type = *[number objCType];
    if (type == 'f' || type == 'd') {
        return [number doubleValue];
    }
    // Unsigned 64-bit values above the signed range keep their value.
    if (type == 'Q' || type == 'L') {
        return static_cast<std::uint64_t>([number unsignedLongLongValue]);
    }
    return static_cast<std::int64_t>([number longLongValue]);
}

nlohmann::json jsonFromArray(NSArray* array) {
    nlohmann::json items = nlohmann::json::array();
    for (id item in array) {
        if (std::optional<nlohmann::json> converted = jsonFrom(item)) {
            items.push_back(*std::move(converted));
        }
    }
    return items;
}

nlohmann::json jsonFromDictionary(NSDictionary* dictionary) {
    nlohmann::json object = nlohmann::json::object();
    for (id key in dictionary) {
        if (![key isKindOfClass:[NSString class]]) {
            continue;
        }
        if (std::optional<nlohmann::json> converted = jsonFrom([dictionary objectForKey:key])) {
            object[textOf(key)] = *std::move(converted);
        }
    }
    return object;
}

std::optional<nlohmann::json> jsonFrom(id _Nullable value) {
    if ([value isKindOfClass:[NSString class]]) {
        return nlohmann::json(textOf(value));
    }
    if ([value isKindOfClass:[NSNumber class]]) {
        return jsonFromNumber(value);
    }
    if ([value isKindOfClass:[NSArray class]]) {
        return jsonFromArray(value);
    }
    if ([value isKindOfClass:[NSDictionary class]]) {
        return jsonFromDictionary(value);
    }
    return std::nullopt;
}

id _Nullable objectFrom(const nlohmann::json& value);

NSArray* _Nullable arrayFrom(const nlohmann::json& items) {
    NSMutableArray* array = [NSMutableArray arrayWithCapacity:items.size()];
    for (const nlohmann::json& item : items) {
        id object = objectFrom(item);
        if (object == nil) {
            return nil;
        }
        [array addObject:object];
    }
    return array;
}

NSDictionary* _Nullable dictionaryFromObject(const nlohmann::json& members) {
    NSMutableDictionary* dictionary = [NSMutableDictionary dictionaryWithCapacity:members.size()];
    for (const auto& [key, member] : members.items()) {
        NSString* name = stringWith(key);
        id object = objectFrom(member);
        if (name == nil || object == nil) {
            return nil;
        }
        [dictionary setObject:object forKey:name];
    }
    return dictionary;
}

id _Nullable objectFrom(const nlohmann::json& value) {
    switch (value.type()) {
    case nlohmann::json::value_t::string:
        return stringWith(value.get_ref<const std::string&>());
    case nlohmann::json::value_t::boolean:
        return [NSNumber numberWithBool:value.get<bool>() ? YES : NO];
    case nlohmann::json::value_t::number_integer:
        return [NSNumber numberWithLongLong:value.get<std::int64_t>()];
    case nlohmann::json::value_t::number_unsigned:
        return [NSNumber numberWithUnsignedLongLong:value.get<std::uint64_t>()];
    case nlohmann::json::value_t::number_float:
        return [NSNumber numberWithDouble:value.get<double>()];
    case nlohmann::json::value_t::array:
        return arrayFrom(value);
    case nlohmann::json::value_t::object:
        return dictionaryFromObject(value);
    default:
        // Null (and discarded values) have no property-list form.
        return nil;
    }
}

}  // namespace

std::string textOf(NSString* _Nullable string) {
    // Not UTF8String, which ends at the first NUL character.
    NSData* bytes = [string dataUsingEncoding:NSUTF8StringEncoding];
    if ([bytes length] == 0) {
        return {};
    }
    return {static_cast<const char*>([bytes bytes]), static_cast<std::size_t>([bytes length])};
}

NSString* _Nullable stringWith(const std::string& text) {
    // Not stringWithUTF8String: text may hold NUL characters.
    NSString* string = [[NSString alloc] initWithBytes:text.data() length:text.size() encoding:NSUTF8StringEncoding];
#if !__has_feature(objc_arc)
    [string autorelease];
#endif
    return string;
}

std::string errorText(NSError* _Nullable error) {
    if (error == nil) {
        return "Unknown error";
    }
    std::string text = textOf([error localizedDescription]);
    if (text.empty()) {
        text = textOf([error domain]) + " error " + std::to_string(static_cast<long long>([error code]));
    }
    return text;
}

ProviderConfiguration providerConfigurationFrom(NSDictionary* _Nonnull dictionary) {
    ProviderConfiguration configuration;
    nlohmann::json members = jsonFromDictionary(dictionary);
    for (auto& [key, value] : members.items()) {
        configuration.emplace(key, std::move(value));
    }
    return configuration;
}

NSDictionary* _Nullable dictionaryFrom(const ProviderConfiguration& configuration) {
    nlohmann::json members = nlohmann::json::object();
    for (const auto& [key, value] : configuration) {
        members[key] = value;
    }
    return dictionaryFromObject(members);
}

VPNStatus vpnStatusFrom(long long status) {
    if (status < static_cast<long long>(VPNStatus::invalid) || status > static_cast<long long>(VPNStatus::disconnecting)) {
        return VPNStatus::invalid;
    }
    return static_cast<VPNStatus>(status);
}

}  // namespace vxm::platform
