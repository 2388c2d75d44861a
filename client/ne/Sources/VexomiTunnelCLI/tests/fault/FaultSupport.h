#pragma once

// What the fault tests share: vxm-tunnel run as a child process under chosen
// limits, a look into a store file that changes nothing, the documents they
// feed in, and how many trials to run.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <sys/types.h>

namespace vxm::tunnel::fault {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

// The private key of every document the fault tests write: it must never
// show up anywhere but in the store.
inline constexpr const char* kPrivateKey = "qLm3Zx9vT0pWfK2sR8nYc4HbJ6uE1aGdV5oI7tQwXyA=";

// Trial counts are the default times VXM_FAULT_SCALE (a positive number,
// 1 when unset), at least 1: sanitizer builds run the programs several times
// slower and set it below 1.
double faultScale();
int scaled(int count);

// A seed for the random choices of a test: VXM_FAULT_SEED when set, so that a
// failing run can be repeated, else a fresh one. Tests print the seed.
std::uint64_t faultSeed();

// Prints one line of figures for the record, marked so that it stands out in
// the test log.
void reportFigures(const std::string& line);

// "Vexomi — <site>", as the tool names a site's configuration.
std::string displayName(const std::string& site);

// A document with all six keys.
std::string document(const std::string& site, const std::string& address);

// How the child is set up between fork and exec.
struct ChildSetup {
    // RLIMIT_FSIZE in bytes, with SIGXFSZ ignored so that a write past it
    // fails with EFBIG as it would on a full disk.
    std::optional<std::uint64_t> fileSizeLimit;
    std::optional<mode_t> umask;
    // Run as the unprivileged user `nobody` when the tests run as root (file
    // modes mean nothing to root); as the tests' own user otherwise.
    bool unprivileged = false;
    // Standard input read from this file rather than from the input pipe.
    std::optional<std::string> standardInputFile;
    // Replaces TMPDIR in the child's environment.
    std::optional<std::string> temporaryFolder;
};

// The exit status of a child whose setup failed before the tool ran.
inline constexpr int kSetupFailed = 125;
inline constexpr uid_t kNobody = 65534;

struct Outcome {
    // The exit status, or -1 when a signal ended the child.
    int status = -1;
    int signal = 0;
    std::string output;
    std::string error;
    std::chrono::milliseconds took{};
};

// One run of vxm-tunnel with VXM_STORE set to `storePath`. `input` goes to
// standard input through a pipe (at most 60000 bytes, so that it is written
// whole before the child reads).
class ToolRun {
public:
    ToolRun(const std::string& storePath, const std::vector<std::string>& args, const std::string& input = "",
            const ChildSetup& setup = {});
    ~ToolRun();
    ToolRun(const ToolRun&) = delete;
    ToolRun& operator=(const ToolRun&) = delete;

    void kill() const;
    // Waits for the end and collects the output; a child still running after
    // `timeout` is killed and the test fails.
    Outcome finish(std::chrono::milliseconds timeout = std::chrono::seconds(60));

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool reaped_ = false;
    Clock::time_point started_;
};

Outcome runTool(const std::string& storePath, const std::vector<std::string>& args, const std::string& input = "",
                const ChildSetup& setup = {});

// The one JSON line a run printed, or null when it printed anything else.
json responseOf(const Outcome& outcome);

// A configuration as the store file holds it.
struct StoredConfiguration {
    std::int64_t key = 0;
    std::optional<std::string> name;
    // "address" of the provider configuration.
    std::optional<std::string> address;
    int status = 0;
};

struct StoreLook {
    // What PRAGMA integrity_check says: "ok" for a sound file.
    std::string integrity;
    std::vector<StoredConfiguration> configurations;

    // Configurations named `name`, in store order.
    [[nodiscard]] std::vector<StoredConfiguration> named(const std::string& name) const;
};

// Opens the store file read-only with SQLite itself (not through the store
// code under test) and reads everything. Throws std::runtime_error when the
// file cannot be opened or read.
StoreLook lookInto(const std::string& storePath);

// The bytes of the store file and of every file beside it that belongs to it
// (-wal, -shm, -events), by suffix; missing files are left out.
std::map<std::string, std::string> storeFiles(const std::string& storePath);
inline constexpr const char* kStoreSuffixes[] = {"", "-wal", "-shm", "-events"};

}  // namespace vxm::tunnel::fault
