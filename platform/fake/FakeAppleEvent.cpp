#include "platform/fake/FakeAppleEvent.h"

#include <utility>

namespace vxm::platform {

FakeAppleEventDescriptor::Pointer FakeAppleEventDescriptor::openDocuments(Ref documents) {
    auto event = std::make_shared<FakeAppleEventDescriptor>();
    if (documents) {
        event->parameters[keyDirectObject] = std::move(documents);
    }
    return event;
}

FakeAppleEventDescriptor::Pointer FakeAppleEventDescriptor::list(std::vector<Ref> items) {
    auto descriptor = std::make_shared<FakeAppleEventDescriptor>();
    descriptor->items = std::move(items);
    return descriptor;
}

FakeAppleEventDescriptor::Pointer FakeAppleEventDescriptor::fileURLItem(std::string path) {
    auto descriptor = std::make_shared<FakeAppleEventDescriptor>();
    descriptor->fileURL = std::move(path);
    return descriptor;
}

FakeAppleEventDescriptor::Pointer FakeAppleEventDescriptor::stringItem(std::string text) {
    auto descriptor = std::make_shared<FakeAppleEventDescriptor>();
    descriptor->string = std::move(text);
    return descriptor;
}

FakeAppleEventDescriptor::Pointer FakeAppleEventDescriptor::otherItem() {
    return std::make_shared<FakeAppleEventDescriptor>();
}

void FakeAppleEventDescriptor::noteRead() const {
    ++reads_;
    if (onRead) {
        onRead();
    }
}

AppleEventDescriptor::Ref FakeAppleEventDescriptor::paramDescriptor(FourCharCode keyword) const {
    noteRead();
    auto found = parameters.find(keyword);
    return found == parameters.end() ? nullptr : found->second;
}

std::int64_t FakeAppleEventDescriptor::numberOfItems() const {
    noteRead();
    return static_cast<std::int64_t>(items.size());
}

AppleEventDescriptor::Ref FakeAppleEventDescriptor::descriptorAtIndex(std::int64_t index) const {
    noteRead();
    if (index < 1 || index > static_cast<std::int64_t>(items.size())) {
        return nullptr;
    }
    return items[static_cast<std::size_t>(index - 1)];
}

std::optional<std::string> FakeAppleEventDescriptor::fileURLPath() const {
    noteRead();
    return fileURL;
}

std::optional<std::string> FakeAppleEventDescriptor::stringValue() const {
    noteRead();
    return string;
}

}  // namespace vxm::platform
