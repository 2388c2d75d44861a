// SPDX-License-Identifier: Apache-2.0
// Runs the built vxm-launcher from a bundle-shaped folder beside a recording
// agent. The user's service manager is out of its reach: no session bus to ask
// it on, and systemctl, where there is one, says nothing about that.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "launcher/AppDelegate.h"
#include "platform/linux/LinuxLauncherPlatform.h"
#include "tests/Support.h"

namespace vxm::launcher {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Logs each run's arguments, its working folder cut from the front of each,
// then ends a moment later, so that two runs at once would show interleaved.
// It lifts a descriptor limit it inherits first (bash can start under one).
constexpr const char* kAgentScript = R"script(#!/bin/bash
ulimit -Sn 64
{ for argument in "$@"; do printf '[%s]' "${argument#"$(pwd -P)"}"; done; echo; } >> "$VXM_TEST_AGENT_LOG"
sleep 0.2
echo end >> "$VXM_TEST_AGENT_LOG"
)script";

struct Case {
    const char* name;
    bool agentPresent;
    std::vector<std::string> arguments;
    std::string agentLog;
    std::string descriptors;  // the launcher's limit of open descriptors, if any
    std::string within;   // the folder that holds the bundle and the working folder
};

// Longer than the first guess of a path's length.
const std::string kLongFolder = std::string(150, 'f') + "/" + std::string(150, 'g');

const Case kCases[] = {
    {"documents in order, one at a time, relative ones from the working folder",
     true,
     {"/d/My Doc ü.vxm", "file:///d/%E6%9D%B1%E4%BA%AC%20%222%22%20%24HOME.vxm", "/d/notes.txt", "/d/UPPER.VXM",
      "relative name.vxm", "-v.vxm"},
     "[import][/d/My Doc ü.vxm]\nend\n[import][/d/東京 \"2\" $HOME.vxm]\nend\n[import][/d/UPPER.VXM]\nend\n"
     "[import][/relative name.vxm]\nend\n[import][/-v.vxm]\nend\n"},
    {"agent missing", false, {"/d/a.vxm"}, ""},
    {"plain launch", true, {}, ""},
    // Room for one descriptor beside the standard ones: none for a main loop that needs some.
    {"out of descriptors", true, {"/d/a.vxm"}, "[import][/d/a.vxm]\nend\n", "4"},
    {"installed and run in folders of long names", true, {"a.vxm"}, "[import][/a.vxm]\nend\n", "", kLongFolder},
};

TEST(LauncherProcessTest, HandsDocumentsToTheAgentOrWaitsForTheLaunchCheck) {
#ifndef VXM_LAUNCHER_PATH
    GTEST_SKIP() << "vxm-launcher is not built on this machine";
#else
    // What a plain launch runs, which the runs below cannot see: the user's systemd, not the system's.
    EXPECT_EQ(platform::LinuxLaunchEnvironment().launchAgentStart(kAppIdentifier),
              (platform::Command{"/usr/bin/systemctl", {"--user", "start", std::string(kAppIdentifier) + ".service"}}));
    std::string skipped;
    for (const Case& c : kCases) {
#ifdef VXM_SANITIZER_NEEDS_DESCRIPTORS
        if (!c.descriptors.empty()) {
            skipped += std::string(c.name) + " (the sanitizers' runtime needs descriptors of its own); ";
            continue;
        }
#endif
        const testing::TempFolder folder;
        const std::string within = c.within.empty() ? folder.path() : folder / c.within;
        const std::string bundle = within + "/T.app/Contents/MacOS", work = within + "/work";
        fs::create_directories(bundle);
        fs::create_directories(work);
        fs::copy_file(VXM_LAUNCHER_PATH, bundle + "/vxm-launcher");
        if (c.agentPresent) {
            testing::writeBytes(bundle + "/vxm", kAgentScript);
            fs::permissions(bundle + "/vxm", fs::perms::owner_all);
        }
        const std::string limit = c.descriptors.empty() ? "" : "ulimit -Sn " + c.descriptors + " && ";
        std::vector<std::string> args{"-c", limit + "cd \"$0\" && exec \"$@\"", work,
                                      bundle + "/vxm-launcher"};
        args.insert(args.end(), c.arguments.begin(), c.arguments.end());
        const auto started = std::chrono::steady_clock::now();
        const testing::Finished finished =
            testing::run("/bin/sh", args,
                         {.environment = {"VXM_TEST_AGENT_LOG=" + (folder / "agent.log"), "XDG_RUNTIME_DIR=" + folder.path(),
                                          "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (folder / "no-bus"),
                                          "SYSTEMD_LOG_LEVEL=emerg"}});
        EXPECT_EQ(finished.status, 0) << c.name;
        EXPECT_EQ(finished.output + finished.error, "") << c.name;
        EXPECT_EQ(testing::readBytes(folder / "agent.log"), c.agentLog) << c.name;
        if (c.arguments.empty()) {
            EXPECT_GE(std::chrono::steady_clock::now() - started, 500ms) << "the launch check waits half a second";
        }
    }
    if (!skipped.empty()) {
        GTEST_SKIP() << "skipped: " << skipped;
    }
#endif
}

}  // namespace
}  // namespace vxm::launcher
