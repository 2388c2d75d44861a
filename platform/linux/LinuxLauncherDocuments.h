// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AppleEvent.h"

namespace vxm::platform {

// True for an argument that is a "file:" URI (the scheme in any case).
bool isFileURI(std::string_view argument);

// The local path of a "file:" URI, "file:///path", "file://localhost/path" or
// "file:/path", percent-decoded, without query or fragment. None for a URI of
// another host, without an absolute path, with a bad escape or an escaped NUL.
std::optional<std::string> filePathFromURI(std::string_view uri);

// The path a plain argument names: an absolute path as it is, a relative one
// joined to `workingFolder`, as a file manager would pass it, so that a name
// beginning with "-" never reads as an option. With no working folder known,
// "./" goes in front instead.
std::string documentPathFromArgument(std::string_view argument, std::string_view workingFolder);

// The open-documents event standing for documents named on the command line:
// its direct object lists one item per argument, in order. A "file:" argument
// is a file URL item (an item of neither kind when it names no local path);
// any other argument is a string item holding the path it names, relative
// ones taken from `workingFolder`.
AppleEventDescriptor::Ref makeOpenDocumentsEvent(const std::vector<std::string>& arguments,
                                                 std::string_view workingFolder);

// A descriptor holding nothing, the reply to an event nobody answers.
AppleEventDescriptor::Ref makeNullDescriptor();

}  // namespace vxm::platform
