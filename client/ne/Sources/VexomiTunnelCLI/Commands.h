// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/MainQueue.h"
#include "platform/Process.h"
#include "platform/VPNStore.h"

namespace vxm::tunnel {

// The platform services one run of the tool works through.
struct Application {
    platform::MainQueue& mainQueue;
    platform::VPNConfigurationStore& store;
    platform::Process& process;
};

// The process-wide values of one run: the argument list exactly as the
// process received it, the command word, and the platform.
struct Run {
    std::vector<std::string> args;
    std::string command;
    Application app;

    // The value of the first argument that is `option` or `option=<value>`:
    // for the former the argument after it, unchanged (it may itself begin
    // with "--", or be empty), none when it stands last; for the latter what
    // follows the "=". None when neither form is given.
    [[nodiscard]] std::optional<std::string> argValue(std::string_view option) const;
};

// Runs the one handler the command word names, or reports an unknown command.
void dispatchCommand(const Run& run);

// The command handlers. Each either ends the process itself or starts one
// asynchronous operation whose completion prints one response and exits.
void handleStart(const Run& run);
void handleStop(const Run& run);
void handleStatus(const Run& run);
void handleWait(const Run& run);
void handleRemove(const Run& run);

// True when the process arguments, program path first, hold a command word;
// otherwise prints the usage line, ends the process with 1 and returns false.
// Needs nothing but the process, so a run that could not set up its platform
// still says what it lacks.
bool hasCommandWord(const std::vector<std::string>& args, platform::Process& process);

// Runs vxm-tunnel with the process arguments, program path first: checks for
// a command word (hasCommandWord), queues the dispatcher on the main queue and runs the loop.
// An exception that escapes the loop ends the run through failToRun. The run
// ends through process.exit; returns 0 only if the loop ever returns.
int runTool(std::vector<std::string> args, Application app);

// Ends a run that could not go on at all (its platform could not be set up,
// or failed where no command could report it) with a failure response and
// status 1. Returns 1 only where exit returns.
int failToRun(platform::Process& process, const std::string& reason);

}  // namespace vxm::tunnel
