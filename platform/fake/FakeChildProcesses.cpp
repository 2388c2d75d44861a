#include "platform/fake/FakeChildProcesses.h"

#include <utility>

namespace vxm::platform {

class FakeChildProcesses::Child : public ChildProcess {
public:
    Child(FakeChildProcesses& owner, std::string executablePath)
        : owner_(owner), executablePath_(std::move(executablePath)) {}

    void waitUntilExit() override {
        ++owner_.waits_;
        owner_.journal_.record("waited " + executablePath_);
    }

private:
    FakeChildProcesses& owner_;
    std::string executablePath_;
};

Result<std::unique_ptr<ChildProcess>> FakeChildProcesses::start(const std::string& executablePath,
                                                                const std::vector<std::string>& arguments) {
    const bool missing = missingExecutables.contains(executablePath);
    starts_.push_back({executablePath, arguments, !missing});
    if (missing) {
        journal_.record("cannot start " + executablePath);
        return Error{executablePath + ": No such file or directory"};
    }
    std::string line = "start " + executablePath;
    for (const std::string& argument : arguments) {
        line += " " + argument;
    }
    journal_.record(std::move(line));
    return std::unique_ptr<ChildProcess>(std::make_unique<Child>(*this, executablePath));
}

}  // namespace vxm::platform
