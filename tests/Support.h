#pragma once

// What tests on this machine share: a temporary folder, file bytes, and a
// program run as a child process with its output captured.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace vxm::testing {

// A fresh folder under /tmp, removed with everything in it at the end (also
// what a test made unreadable).
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::string& bytes);

struct Finished {
    // The exit status, or 128 + the signal that ended the program.
    int status = -1;
    std::string output;
    std::string error;
};

// Where a child's standard output goes.
enum class Output { pipe, brokenPipe, full, closed };

struct ProgramSetup {
    // NAME=value pairs added to (or replacing those of) the test's environment.
    std::vector<std::string> environment;
    // Written to standard input, which is then closed (at most a pipe's
    // capacity); none leaves standard input an empty pipe.
    std::optional<std::string> input;
    Output output = Output::pipe;
};

// A program started with posix_spawn; nothing the test runner holds open
// beyond descriptors 0-2 reaches it. Killed when dropped unfinished.
class Program {
public:
    Program(const std::string& path, const std::vector<std::string>& args, const ProgramSetup& setup = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    [[nodiscard]] pid_t pid() const { return pid_; }
    // Whether the program has ended within `timeout`.
    bool endsWithin(std::chrono::milliseconds timeout);
    // Waits for its first line of output, then kills it.
    std::string firstLineThenKill(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits for the end (the test fails and the program is killed after
    // `timeout`) and collects what it wrote.
    Finished finish(std::chrono::milliseconds timeout = std::chrono::seconds(30));

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool reaped_ = false;
    int status_ = -1;
};

Finished run(const std::string& path, const std::vector<std::string>& args, const ProgramSetup& setup = {});

}  // namespace vxm::testing
