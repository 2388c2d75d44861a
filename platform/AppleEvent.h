// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vxm::platform {

// A four-character code packed into 32 bits, its first character in the most
// significant byte: fourCharCode("aevt") == 0x61657674.
using FourCharCode = std::uint32_t;

constexpr FourCharCode fourCharCode(const char (&code)[5]) {
    FourCharCode packed = 0;
    for (int i = 0; i < 4; ++i) {
        packed = (packed << 8U) | static_cast<unsigned char>(code[i]);
    }
    return packed;
}

// The class and identifier of the open-documents event, and the keyword of
// its direct object, the list of documents.
inline constexpr FourCharCode kCoreEventClass = fourCharCode("aevt");
inline constexpr FourCharCode kAEOpenDocuments = fourCharCode("odoc");
inline constexpr FourCharCode keyDirectObject = fourCharCode("----");

// An Apple event, or a value inside one: a parameter list, a list of items, a
// file URL or a string. Every operation is a read; a descriptor that is not of
// the kind an operation asks for answers with nothing (or 0 items).
class AppleEventDescriptor {
public:
    using Ref = std::shared_ptr<const AppleEventDescriptor>;

    virtual ~AppleEventDescriptor() = default;

    // The event's parameter stored under `keyword`; null when there is none.
    [[nodiscard]] virtual Ref paramDescriptor(FourCharCode keyword) const = 0;

    // The number of items of a list.
    [[nodiscard]] virtual std::int64_t numberOfItems() const = 0;

    // The list item at `index`, counted from 1; null when there is none.
    [[nodiscard]] virtual Ref descriptorAtIndex(std::int64_t index) const = 0;

    // The decoded file-system path, when the descriptor converts to a file URL.
    [[nodiscard]] virtual std::optional<std::string> fileURLPath() const = 0;

    // The text, when the descriptor has a string value.
    [[nodiscard]] virtual std::optional<std::string> stringValue() const = 0;
};

// Routes incoming Apple events to the handler registered for their class and
// identifier.
class AppleEventManager {
public:
    // Called on the main thread with the event and the reply event.
    using Handler = std::function<void(const AppleEventDescriptor& event, const AppleEventDescriptor& reply)>;

    virtual ~AppleEventManager() = default;

    // Every later event of this class and identifier goes to `handler`,
    // replacing any handler registered before for them.
    virtual void setEventHandler(Handler handler, FourCharCode eventClass, FourCharCode eventID) = 0;
};

}  // namespace vxm::platform
