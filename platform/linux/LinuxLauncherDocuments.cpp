// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/LinuxLauncherDocuments.h"

#include <cstdint>
#include <map>
#include <memory>
#include <utility>

namespace vxm::platform {

namespace {

// An in-memory descriptor: an event's parameters, a list's items, or one
// item's file URL path or string.
class CommandLineDescriptor : public AppleEventDescriptor {
public:
    std::map<FourCharCode, Ref> parameters;
    std::vector<Ref> items;
    std::optional<std::string> fileURL;
    std::optional<std::string> string;

    Ref paramDescriptor(FourCharCode keyword) const override {
        auto found = parameters.find(keyword);
        return found == parameters.end() ? nullptr : found->second;
    }

    std::int64_t numberOfItems() const override { return static_cast<std::int64_t>(items.size()); }

    Ref descriptorAtIndex(std::int64_t index) const override {
        if (index < 1 || index > numberOfItems()) {
            return nullptr;
        }
        return items[static_cast<std::size_t>(index - 1)];
    }

    std::optional<std::string> fileURLPath() const override { return fileURL; }
    std::optional<std::string> stringValue() const override { return string; }
};

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        // A path cannot hold NUL: no process could be handed it.
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            return std::nullopt;
        }
        decoded.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return decoded;
}

}  // namespace

bool isFileURI(std::string_view argument) {
    constexpr std::string_view kScheme = "file:";
    return argument.size() >= kScheme.size() && equalsIgnoringASCIICase(argument.substr(0, kScheme.size()), kScheme);
}

std::optional<std::string> filePathFromURI(std::string_view uri) {
    if (!isFileURI(uri)) {
        return std::nullopt;
    }
    std::string_view rest = uri.substr(5);
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        const std::string_view host = rest.substr(0, slash);
        if (slash == std::string_view::npos || !(host.empty() || equalsIgnoringASCIICase(host, "localhost"))) {
            return std::nullopt;
        }
        rest.remove_prefix(slash);
    }
    if (!rest.starts_with('/')) {
        return std::nullopt;
    }
    return percentDecode(rest.substr(0, rest.find_first_of("?#")));
}

std::string documentPathFromArgument(std::string_view argument, std::string_view workingFolder) {
    if (argument.starts_with('/')) {
        return std::string(argument);
    }
    std::string path(workingFolder.empty() ? "." : workingFolder);
    if (!path.ends_with('/')) {
        path.push_back('/');
    }
    return path.append(argument);
}

AppleEventDescriptor::Ref makeOpenDocumentsEvent(const std::vector<std::string>& arguments,
                                                 std::string_view workingFolder) {
    auto list = std::make_shared<CommandLineDescriptor>();
    for (const std::string& argument : arguments) {
        auto item = std::make_shared<CommandLineDescriptor>();
        if (isFileURI(argument)) {
            item->fileURL = filePathFromURI(argument);
        } else {
            item->string = documentPathFromArgument(argument, workingFolder);
        }
        list->items.push_back(std::move(item));
    }
    auto event = std::make_shared<CommandLineDescriptor>();
    event->parameters[keyDirectObject] = std::move(list);
    return event;
}

AppleEventDescriptor::Ref makeNullDescriptor() {
    return std::make_shared<CommandLineDescriptor>();
}

}  // namespace vxm::platform
