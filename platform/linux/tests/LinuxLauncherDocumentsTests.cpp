// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/LinuxLauncherDocuments.h"

#include <gtest/gtest.h>

#include <string>

namespace vxm::platform {
namespace {

// One command-line argument, the working folder, and the item it becomes:
// "url:<path>", "text:<path>", or "neither" for a URI that names no local path.
struct Case {
    const char* argument;
    const char* workingFolder;
    const char* item;
};

const Case kCases[] = {
    {"file:///home/ana/My%20Docs/Z%C3%BCrich%2Bb%c3%bcro.vxm", "/w", "url:/home/ana/My Docs/Zürich+büro.vxm"},
    {"file://localhost/tmp/a.vxm", "/w", "url:/tmp/a.vxm"},
    {"FILE://LocalHost/tmp/a.vxm", "/w", "url:/tmp/a.vxm"},
    {"file:/tmp/a.vxm", "/w", "url:/tmp/a.vxm"},
    {"file:///a%2520b%2F%3F%23.vxm?x=1#top", "/w", "url:/a%20b/?#.vxm"},
    {"file:///tmp/東京 ü.vxm", "/w", "url:/tmp/東京 ü.vxm"},
    {"file://server/share/a.vxm", "/w", "neither"},
    {"file://localhost", "/w", "neither"},
    {"file:a.vxm", "/w", "neither"},
    {"file:///a%2", "/w", "neither"},
    {"file:///a%zz.vxm", "/w", "neither"},
    {"file:///a%00.vxm", "/w", "neither"},
    {"/tmp/c d.vxm", "/w", "text:/tmp/c d.vxm"},
    {"filed.vxm", "/w", "text:/w/filed.vxm"},
    {"-r.vxm", "/home/ana", "text:/home/ana/-r.vxm"},
    {"d/a.vxm", "/", "text:/d/a.vxm"},
    {"--help.vxm", "", "text:./--help.vxm"},
};

TEST(OpenDocumentsEventTest, ArgumentsBecomeItems) {
    for (const Case& c : kCases) {
        const auto list = makeOpenDocumentsEvent({c.argument}, c.workingFolder)->paramDescriptor(keyDirectObject);
        ASSERT_EQ(list->numberOfItems(), 1) << c.argument;
        const auto item = list->descriptorAtIndex(1);
        const std::string got = item->fileURLPath()  ? "url:" + *item->fileURLPath()
                                : item->stringValue() ? "text:" + *item->stringValue()
                                                      : "neither";
        EXPECT_EQ(got, c.item) << c.argument;
    }
}

}  // namespace
}  // namespace vxm::platform
