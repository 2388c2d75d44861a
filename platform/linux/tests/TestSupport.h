#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/linux/AsioMainQueue.h"

namespace vxm::platform::support {

// A fresh folder under /tmp, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = "/tmp/vxm-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot make a temporary folder");
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        // Folders a test made unreadable must be opened up to be removed.
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Runs an Asio main queue on a thread of its own, as the process's main
// thread would, until the end of the scope.
class RunningQueue {
public:
    RunningQueue() : thread_([this] { queue.run(); }) {}
    ~RunningQueue() { stop(); }

    // Ends the loop and waits for its thread; work still queued never runs.
    void stop() {
        if (thread_.joinable()) {
            queue.stop();
            thread_.join();
        }
    }
    RunningQueue(const RunningQueue&) = delete;
    RunningQueue& operator=(const RunningQueue&) = delete;

    [[nodiscard]] std::thread::id threadId() const { return thread_.get_id(); }

    AsioMainQueue queue;

private:
    std::thread thread_;
};

// Waits for a value set by a completion on another thread; a test fails
// rather than hangs when it never comes.
template <class T>
T awaitValue(std::future<T> future, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    if (future.wait_for(timeout) != std::future_status::ready) {
        throw std::runtime_error("no completion within the time limit");
    }
    return future.get();
}

}  // namespace vxm::platform::support
