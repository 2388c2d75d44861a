#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/fake/FakeJournal.h"

namespace vxm::platform {

// Child processes for tests. A start is recorded and, unless the executable
// is listed as missing, succeeds with a child that has exited by the time
// anyone waits for it. The journal gets "start <executable> <arguments...>"
// or "cannot start <executable>", and "waited <executable>" for each wait.
class FakeChildProcesses : public ChildProcesses {
public:
    struct Start {
        std::string executablePath;
        std::vector<std::string> arguments;
        bool started;

        bool operator==(const Start&) const = default;
    };

    explicit FakeChildProcesses(FakeJournal& journal) : journal_(journal) {}

    // Executables whose start fails.
    std::set<std::string> missingExecutables;

    Result<std::unique_ptr<ChildProcess>> start(const std::string& executablePath,
                                                const std::vector<std::string>& arguments) override;

    // Every start asked for, in order, also those that failed.
    [[nodiscard]] const std::vector<Start>& starts() const { return starts_; }
    // How many times any child was waited for.
    [[nodiscard]] int waits() const { return waits_; }

private:
    class Child;

    FakeJournal& journal_;
    std::vector<Start> starts_;
    int waits_ = 0;
};

}  // namespace vxm::platform
