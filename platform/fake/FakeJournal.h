#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vxm::platform {

// The effects of several fakes, one line each, in the order they happened.
class FakeJournal {
public:
    void record(std::string line) { lines_.push_back(std::move(line)); }
    [[nodiscard]] const std::vector<std::string>& lines() const { return lines_; }

private:
    std::vector<std::string> lines_;
};

}  // namespace vxm::platform
