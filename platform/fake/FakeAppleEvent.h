#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppleEvent.h"

namespace vxm::platform {

// A descriptor for tests, built from data: any mix of parameters, list items,
// a file URL path and a string value. It counts every read made of it.
class FakeAppleEventDescriptor : public AppleEventDescriptor {
public:
    using Pointer = std::shared_ptr<FakeAppleEventDescriptor>;

    std::map<FourCharCode, Ref> parameters;
    // The list items from index 1 on; a null entry is an item that is missing.
    std::vector<Ref> items;
    std::optional<std::string> fileURL;
    std::optional<std::string> string;
    // Called at the start of every read.
    std::function<void()> onRead;

    // An open-documents event whose direct object is `documents`; with none,
    // an event without a direct object.
    static Pointer openDocuments(Ref documents);
    static Pointer list(std::vector<Ref> items);
    static Pointer fileURLItem(std::string path);
    static Pointer stringItem(std::string text);
    // A descriptor of another kind, say a number: neither file URL nor string.
    static Pointer otherItem();

    Ref paramDescriptor(FourCharCode keyword) const override;
    std::int64_t numberOfItems() const override;
    Ref descriptorAtIndex(std::int64_t index) const override;
    std::optional<std::string> fileURLPath() const override;
    std::optional<std::string> stringValue() const override;

    [[nodiscard]] int reads() const { return reads_; }

private:
    void noteRead() const;

    mutable int reads_ = 0;
};

}  // namespace vxm::platform
