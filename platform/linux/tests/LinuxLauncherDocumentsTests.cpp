#include "platform/linux/LinuxLauncherDocuments.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vxm::platform {
namespace {

TEST(FilePathFromURITest, DecodesLocalFileURIs) {
    EXPECT_EQ(filePathFromURI("file:///home/ana/My%20Docs/Z%C3%BCrich%2Bb%c3%bcro.vxm"),
              "/home/ana/My Docs/Zürich+büro.vxm");
    EXPECT_EQ(filePathFromURI("file://localhost/tmp/a.vxm"), "/tmp/a.vxm");
    EXPECT_EQ(filePathFromURI("FILE://LocalHost/tmp/a.vxm"), "/tmp/a.vxm");
    EXPECT_EQ(filePathFromURI("file:/tmp/a.vxm"), "/tmp/a.vxm");
    EXPECT_EQ(filePathFromURI("file:///"), "/");
}

TEST(FilePathFromURITest, DecodesOnceAndKeepsUnescapedBytes) {
    EXPECT_EQ(filePathFromURI("file:///a%2520b.vxm"), "/a%20b.vxm");
    EXPECT_EQ(filePathFromURI("file:///tmp/東京 ü.vxm"), "/tmp/東京 ü.vxm");
    EXPECT_EQ(filePathFromURI("file:///a%2Fb.vxm"), "/a/b.vxm");
}

TEST(FilePathFromURITest, DropsQueryAndFragment) {
    EXPECT_EQ(filePathFromURI("file:///tmp/a.vxm?x=1"), "/tmp/a.vxm");
    EXPECT_EQ(filePathFromURI("file:///tmp/a.vxm#top"), "/tmp/a.vxm");
    EXPECT_EQ(filePathFromURI("file:///tmp/a%3F%23.vxm"), "/tmp/a?#.vxm");
}

TEST(FilePathFromURITest, RejectsWhatNamesNoLocalPath) {
    for (const char* uri : {"file://server/share/a.vxm", "file://localhost", "file://", "file:a.vxm",
                            "file:///a%2", "file:///a%", "file:///a%zz.vxm", "file:///a%00.vxm",
                            "/tmp/a.vxm", "http:///tmp/a.vxm"}) {
        EXPECT_EQ(filePathFromURI(uri), std::nullopt) << uri;
    }
}

TEST(OpenDocumentsEventTest, RelativePathsAreTakenFromTheWorkingFolder) {
    EXPECT_EQ(documentPathFromArgument("-r.vxm", "/home/ana"), "/home/ana/-r.vxm");
    EXPECT_EQ(documentPathFromArgument("d/a.vxm", "/"), "/d/a.vxm");
    EXPECT_EQ(documentPathFromArgument("--help.vxm", ""), "./--help.vxm");
    EXPECT_EQ(documentPathFromArgument("//x/a.vxm", "/w"), "//x/a.vxm");
}

TEST(OpenDocumentsEventTest, ListsArgumentsInOrderAsFileURLsOrStrings) {
    const auto event = makeOpenDocumentsEvent(
        {"file:///tmp/a%20b.vxm", "/tmp/c d.vxm", "file://server/x.vxm", "filed.vxm", "File:///tmp/e.vxm"}, "/w");
    EXPECT_EQ(event->paramDescriptor(fourCharCode("xxxx")), nullptr);
    const auto list = event->paramDescriptor(keyDirectObject);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->numberOfItems(), 5);
    EXPECT_EQ(list->descriptorAtIndex(0), nullptr);
    EXPECT_EQ(list->descriptorAtIndex(6), nullptr);

    struct Expected {
        std::optional<std::string> fileURL;
        std::optional<std::string> string;
    };
    const Expected expected[] = {{"/tmp/a b.vxm", std::nullopt},
                                 {std::nullopt, "/tmp/c d.vxm"},
                                 {std::nullopt, std::nullopt},
                                 {std::nullopt, "/w/filed.vxm"},
                                 {"/tmp/e.vxm", std::nullopt}};
    for (int index = 1; index <= 5; ++index) {
        const auto item = list->descriptorAtIndex(index);
        ASSERT_NE(item, nullptr) << index;
        EXPECT_EQ(item->fileURLPath(), expected[index - 1].fileURL) << index;
        EXPECT_EQ(item->stringValue(), expected[index - 1].string) << index;
    }
}

}  // namespace
}  // namespace vxm::platform
