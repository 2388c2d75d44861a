// SPDX-License-Identifier: Apache-2.0
#pragma once

// What tests on this machine share: a temporary folder, file bytes, and a
// program run as a child process with its output captured.

#include <string>
#include <vector>

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

struct ProgramSetup {
    // NAME=value pairs added to (or replacing those of) the test's environment.
    std::vector<std::string> environment;
};

// Runs a program with an empty standard input and nothing the test runner
// holds open beyond descriptors 0-2, and waits for its end (at most 30 s:
// then the test fails and the program is killed).
Finished run(const std::string& path, const std::vector<std::string>& args, const ProgramSetup& setup = {});

}  // namespace vxm::testing
