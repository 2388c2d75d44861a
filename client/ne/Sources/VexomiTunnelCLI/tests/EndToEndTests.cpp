// vxm-tunnel run as a process, the way its callers run it, against a store in
// a temporary folder.

#include <chrono>
#include <csignal>
#include <cstring>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/linux/SqliteVPNStore.h"
#include "platform/linux/tests/TestSupport.h"

extern char** environ;

namespace vxm::tunnel {
namespace {

// Built with AddressSanitizer, and so with UndefinedBehaviorSanitizer.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kUnderAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using nlohmann::json;
using platform::support::readBytes;
using platform::support::TempDir;
using platform::support::writeBytes;

constexpr const char* kHome = "Vexomi \xE2\x80\x94 home";
constexpr const char* kWork = "Vexomi \xE2\x80\x94 work";

std::string document(const std::string& site, const std::string& address) {
    return json{{"siteName", site},
                {"privateKey", "yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmk="},
                {"address", address},
                {"serverPubkey", "xTIBA5rboUvnH4htodjb6e697QjLERt1NAB4mZqp8Dg="},
                {"endpoint", "198.51.100.1:51820"},
                {"allowedIPs", "0.0.0.0/0"}}
        .dump();
}

struct Finished {
    int status = -1;
    std::string output;
    std::string error;
};

std::string drain(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

// Where a child's standard output goes.
enum class Output {
    pipe,        // a pipe that the test reads
    brokenPipe,  // a pipe whose reader has gone
    full,        // /dev/full: every write fails with ENOSPC
    closed,      // no descriptor 1 at all
};

// A child process started with posix_spawn, its standard streams on pipes.
class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& environment,
          const std::optional<std::string>& input, Output output = Output::pipe) {
        int in[2];
        int out[2];
        int err[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        if (output == Output::full) {
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/full", O_WRONLY, 0);
        } else if (output == Output::closed) {
            posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
        } else {
            posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        }
        if (output == Output::brokenPipe) {
            ::close(out[0]);
            out[0] = -1;
        }
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        // Nothing the test runner left open reaches the child: the runs
        // under a descriptor limit must have every other number free.
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        envp.reserve(environment.size() + 1);
        for (const std::string& variable : environment) {
            envp.push_back(const_cast<char*>(variable.c_str()));
        }
        envp.push_back(nullptr);
        const int spawned = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        if (spawned != 0) {
            throw std::runtime_error("cannot run " + program + ": " + std::generic_category().message(spawned));
        }
        if (input) {
            [[maybe_unused]] const ssize_t written = ::write(in[1], input->data(), input->size());
        }
        ::close(in[1]);
        out_ = out[0];
        err_ = err[0];
    }

    ~Child() {
        if (!reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Whether the child has ended within `timeout`; reaps it when it has.
    bool endsWithin(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (!reaped_) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                reaped_ = true;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (Clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    // Waits for the first line of standard output and kills the child at once.
    std::string firstLineThenKill(std::chrono::milliseconds timeout = 10s) {
        std::string line;
        const auto deadline = Clock::now() + timeout;
        while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
            pollfd ready{out_, POLLIN, 0};
            if (::poll(&ready, 1, 10) > 0) {
                char buffer[256];
                const ssize_t got = ::read(out_, buffer, sizeof buffer);
                if (got <= 0) {
                    break;
                }
                line.append(buffer, static_cast<std::size_t>(got));
            }
        }
        ::kill(pid_, SIGKILL);
        endsWithin(10s);
        return line;
    }

    // Waits for the end (killing the child after `timeout`) and collects its output.
    Finished finish(std::chrono::milliseconds timeout = 10s) {
        if (!endsWithin(timeout)) {
            ADD_FAILURE() << "the process did not end within " << timeout.count() << " ms";
            ::kill(pid_, SIGKILL);
            endsWithin(10s);
        }
        return {status_, drain(out_), drain(err_)};
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool reaped_ = false;
    int status_ = -1;
};

// The one JSON line a run printed, or null (and a failure) when it printed
// anything else.
json response(const Finished& run) {
    const std::size_t end = run.output.find('\n');
    if (end == std::string::npos || end + 1 != run.output.size()) {
        ADD_FAILURE() << "not one line: " << run.output;
        return nullptr;
    }
    return json::parse(run.output, nullptr, false);
}

class EndToEndTest : public ::testing::Test {
protected:
    TempDir dir;
    // The store of every run unless a test points VXM_STORE elsewhere.
    std::string storePath = dir / "state/vpn-configurations.db";

    std::unique_ptr<Child> spawn(const std::string& program, const std::vector<std::string>& args,
                                 const std::optional<std::string>& input = std::nullopt, Output output = Output::pipe) {
        std::vector<std::string> environment;
        for (char** variable = environ; *variable != nullptr; ++variable) {
            if (std::strncmp(*variable, "VXM_STORE=", 10) != 0) {
                environment.emplace_back(*variable);
            }
        }
        environment.push_back("VXM_STORE=" + storePath);
        return std::make_unique<Child>(program, args, environment, input, output);
    }

    std::unique_ptr<Child> spawnTool(const std::vector<std::string>& args,
                                     const std::optional<std::string>& input = std::nullopt) {
        return spawn(VXM_TUNNEL_PATH, args, input);
    }

    Finished tool(const std::vector<std::string>& args, const std::optional<std::string>& input = std::nullopt) {
        return spawnTool(args, input)->finish();
    }

    // Starts a site from a document file, as callers usually do.
    void startSite(const std::string& site, const std::string& address) {
        const std::string path = dir / (site + ".json");
        writeBytes(path, document(site, address));
        const Finished run = tool({"start", "--config", path});
        ASSERT_EQ(run.status, 0) << run.output << run.error;
    }

    void setStatus(const char* displayName, int status) {
        const Finished run = spawn(VXM_STORE_STATUS_PATH, {displayName, std::to_string(status)})->finish();
        ASSERT_EQ(run.status, 0) << run.error;
    }

    // The display names in the store, in store order, read through the store itself.
    std::vector<std::optional<std::string>> storedNames() {
        platform::support::RunningQueue running;
        platform::SqliteVPNStore store(running.queue, storePath);
        std::promise<std::vector<std::optional<std::string>>> names;
        store.loadAllFromPreferences([&](const platform::Result<std::vector<platform::ManagerRef>>& loaded) {
            std::vector<std::optional<std::string>> found;
            for (const platform::ManagerRef& manager : loaded.value()) {
                found.push_back(manager->localizedDescription);
            }
            names.set_value(found);
        });
        auto result = platform::support::awaitValue(names.get_future());
        running.stop();
        return result;
    }
};

const json kDisconnected = {{"ok", true}, {"connected", false}};

TEST_F(EndToEndTest, StartStatusStopStatusRemoveStatus) {
    // A start reported as done survives the process being killed right after.
    auto start = spawnTool({"start", "--config", "-"}, document("home", "10.0.0.2/32"));
    EXPECT_EQ(json::parse(start->firstLineThenKill(), nullptr, false),
              (json{{"ok", true}, {"name", kHome}, {"vpnIP", "10.0.0.2"}, {"connected", true}}));

    Finished status = tool({"status"});
    EXPECT_EQ(status.status, 0);
    EXPECT_EQ(response(status), (json{{"ok", true}, {"name", kHome}, {"vpnIP", "10.0.0.2"}, {"connected", true}}));

    Finished stop = tool({"stop"});
    EXPECT_EQ(stop.status, 0);
    EXPECT_EQ(response(stop), kDisconnected);
    EXPECT_EQ(response(tool({"status"})), kDisconnected);

    Finished remove = tool({"remove"});
    EXPECT_EQ(remove.status, 0);
    EXPECT_EQ(response(remove), json({{"ok", true}}));
    status = tool({"status"});
    EXPECT_EQ(status.status, 0);
    EXPECT_EQ(response(status), kDisconnected);
    EXPECT_TRUE(storedNames().empty());
}

TEST_F(EndToEndTest, SitesAreFoundByNameAndRemovedOneByOne) {
    startSite("home", "10.0.0.2/32");
    startSite("work", "10.0.0.3/32");
    // Starting a site again finds its configuration rather than adding one.
    startSite("home", "10.0.0.4/32");
    EXPECT_EQ(storedNames(), (std::vector<std::optional<std::string>>{kHome, kWork}));
    EXPECT_EQ(response(tool({"status"})),
              (json{{"ok", true}, {"name", kHome}, {"vpnIP", "10.0.0.4"}, {"connected", true}}));

    EXPECT_EQ(response(tool({"stop", "--site", "home"})), kDisconnected);
    EXPECT_EQ(response(tool({"status"})),
              (json{{"ok", true}, {"name", kWork}, {"vpnIP", "10.0.0.3"}, {"connected", true}}));

    EXPECT_EQ(response(tool({"remove", "--site", "work"})), json({{"ok", true}}));
    EXPECT_EQ(storedNames(), (std::vector<std::optional<std::string>>{kHome}));
    EXPECT_EQ(response(tool({"status"})), kDisconnected);
    // Removing a site that was never stored still succeeds.
    EXPECT_EQ(tool({"remove", "--site", "nowhere"}).status, 0);
    EXPECT_EQ(storedNames(), (std::vector<std::optional<std::string>>{kHome}));
}

// Another program left a provider configuration that cannot be read: its
// configuration has no address, and every command works on it and the others.
TEST_F(EndToEndTest, ADamagedProviderConfigurationReadsAsNoneAndEveryCommandStillWorks) {
    startSite("home", "10.0.0.2/32");
    startSite("work", "10.0.0.3/32");
    auto damageHome = [this] {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(storePath.c_str(), &db), SQLITE_OK);
        const std::string sql = std::string("UPDATE configurations SET provider_configuration = '{\"address\":'"
                                            " WHERE display_name = '") + kHome + "'";
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        EXPECT_EQ(sqlite3_changes(db), 1);
        sqlite3_close(db);
    };
    damageHome();
    EXPECT_EQ(response(tool({"status"})), (json{{"ok", true}, {"name", kHome}, {"connected", true}}));
    EXPECT_EQ(response(tool({"stop", "--site", "home"})), kDisconnected);
    EXPECT_EQ(response(tool({"status"})),
              (json{{"ok", true}, {"name", kWork}, {"vpnIP", "10.0.0.3"}, {"connected", true}}));

    // A start of its site writes it anew.
    startSite("home", "10.0.0.4/32");
    EXPECT_EQ(response(tool({"status"})),
              (json{{"ok", true}, {"name", kHome}, {"vpnIP", "10.0.0.4"}, {"connected", true}}));

    damageHome();
    EXPECT_EQ(response(tool({"remove", "--site", "home"})), json({{"ok", true}}));
    EXPECT_EQ(storedNames(), (std::vector<std::optional<std::string>>{kWork}));
}

TEST_F(EndToEndTest, WaitEndsSoonAfterAnotherProcessStopsTheLastActiveTunnel) {
    const Finished idle = tool({"wait"});
    EXPECT_EQ(idle.status, 0);
    EXPECT_EQ(idle.output, "");

    startSite("home", "10.0.0.2/32");
    startSite("work", "10.0.0.3/32");
    auto wait = spawnTool({"wait"});
    EXPECT_FALSE(wait->endsWithin(300ms));
    ASSERT_EQ(tool({"stop", "--site", "home"}).status, 0);
    EXPECT_FALSE(wait->endsWithin(300ms)) << "work is still connected";

    ASSERT_EQ(tool({"stop", "--site", "work"}).status, 0);
    const auto stopped = Clock::now();
    ASSERT_TRUE(wait->endsWithin(5s));
    EXPECT_LT(Clock::now() - stopped, 1s);
    const Finished waited = wait->finish();
    EXPECT_EQ(waited.status, 0);
    EXPECT_EQ(waited.output, "");
    EXPECT_EQ(waited.error, "");
}

TEST_F(EndToEndTest, WaitStaysWhileATunnelIsConnectingAndEndsWhenItGoesDown) {
    startSite("home", "10.0.0.2/32");
    setStatus(kHome, 2);
    auto wait = spawnTool({"wait"});
    EXPECT_FALSE(wait->endsWithin(300ms));
    EXPECT_EQ(response(tool({"status"})), kDisconnected) << "connecting is not connected";

    setStatus(kHome, 3);
    EXPECT_FALSE(wait->endsWithin(300ms));
    setStatus(kHome, 5);  // disconnecting counts as down
    EXPECT_TRUE(wait->endsWithin(1s));
    EXPECT_EQ(wait->finish().status, 0);
}

TEST_F(EndToEndTest, AFileThatIsNotAStoreFailsEveryCommandAndStaysAsItWas) {
    std::filesystem::create_directories(dir / "state");
    const std::string corrupt = std::string(3000, '\x5a') + "not a database";
    writeBytes(storePath, corrupt);
    const std::string reason =
        "the VPN configuration store at " + storePath + " cannot be opened: the file there is not a Vexomi VPN configuration store";

    const Finished status = tool({"status"});
    EXPECT_EQ(status.status, 1);
    EXPECT_EQ(response(status), (json{{"ok", false}, {"error", "Failed to load tunnel managers: " + reason}}));
    writeBytes(dir / "home.json", document("home", "10.0.0.2/32"));
    const Finished start = tool({"start", "--config", dir / "home.json"});
    EXPECT_EQ(start.status, 1);
    EXPECT_EQ(response(start), (json{{"ok", false}, {"error", "Failed to load tunnel manager: " + reason}}));
    for (const char* command : {"stop", "remove"}) {
        EXPECT_EQ(tool({command}).status, 1) << command;
    }
    const Finished wait = tool({"wait"});
    EXPECT_EQ(wait.status, 1);
    EXPECT_EQ(response(wait), (json{{"ok", false}, {"error", "Failed to load tunnel managers: " + reason}}));
    EXPECT_EQ(readBytes(storePath), corrupt);
}

TEST_F(EndToEndTest, AStoreWhoseFolderCannotBeMadeFailsWithTheReason) {
    writeBytes(dir / "state", "a file where the folder should be");
    const Finished start = tool({"start", "--config", "-"}, document("home", "10.0.0.2/32"));
    EXPECT_EQ(start.status, 1);
    EXPECT_EQ(response(start),
              (json{{"ok", false},
                    {"error", "Failed to load tunnel manager: the VPN configuration store at " + storePath +
                                  " cannot be opened: cannot create the folder " + (dir / "state") +
                                  ": Not a directory"}}));
}

TEST_F(EndToEndTest, AStoreInAFolderThatCannotBeWrittenFailsWithTheReason) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into any folder, so a read-only one cannot be tested";
    }
    const std::string locked = dir / "locked";
    ASSERT_EQ(::mkdir(locked.c_str(), 0500), 0);
    storePath = locked + "/vpn-configurations.db";
    const Finished start = tool({"start", "--config", "-"}, document("home", "10.0.0.2/32"));
    EXPECT_EQ(start.status, 1);
    EXPECT_EQ(response(start), (json{{"ok", false},
                                     {"error", "Failed to load tunnel manager: the VPN configuration store at " +
                                                   storePath + " cannot be opened: Permission denied"}}));
}

// The start is done, but its caller never hears so: it must not read a 0.
TEST_F(EndToEndTest, AResponseThatCannotBeWrittenEndsWithOne) {
    for (const Output output : {Output::brokenPipe, Output::full, Output::closed}) {
        const Finished start =
            spawn(VXM_TUNNEL_PATH, {"start", "--config", "-"}, document("home", "10.0.0.2/32"), output)->finish();
        EXPECT_EQ(start.status, 1) << "output " << static_cast<int>(output);
        EXPECT_EQ(start.error, "");
    }
    EXPECT_EQ(storedNames(), (std::vector<std::optional<std::string>>{kHome}));
}

// Whatever the limit, a run answers a failure it can name, or (for wait with
// a connected tunnel) waits; it never aborts, nor says "nothing is up".
TEST_F(EndToEndTest, OutOfFileDescriptorsEveryRunAnswersOrWaits) {
    if (kUnderAddressSanitizer) {
        // UndefinedBehaviorSanitizer checks memory through a pipe of its own,
        // which these limits take away, and then reports what it could not read.
        GTEST_SKIP() << "not under AddressSanitizer and UndefinedBehaviorSanitizer";
    }
    startSite("home", "10.0.0.2/32");
    for (int limit = 4; limit <= 11; ++limit) {
        for (const char* command : {"wait", "status"}) {
            auto run = spawn("/bin/sh", {"-c", "ulimit -n " + std::to_string(limit) + " && exec \"$0\" \"$1\"",
                                         VXM_TUNNEL_PATH, command});
            if (!run->endsWithin(2s)) {
                EXPECT_EQ(std::string(command), "wait") << "limit " << limit;
                continue;
            }
            const Finished finished = run->finish();
            const json answer = response(finished);
            EXPECT_EQ(finished.status, answer.value("ok", false) ? 0 : 1)
                << command << " limit " << limit << ": " << finished.output << finished.error;
            EXPECT_EQ(finished.error, "") << command << " limit " << limit;
        }
    }
}

TEST_F(EndToEndTest, RunsThatNeverNeedTheStoreLeaveNoTrace) {
    EXPECT_EQ(tool({}).status, 1);
    EXPECT_EQ(tool({"start", "--config", dir / "missing.json"}).status, 1);
    EXPECT_EQ(tool({"start", "--config", "-"}, "{not json").status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "state"));
}

TEST_F(EndToEndTest, ManyProcessesAtOnceOnANewStoreAllSucceed) {
    std::vector<std::unique_ptr<Child>> runs;
    for (int site = 0; site < 8; ++site) {
        runs.push_back(spawnTool({"start", "--config", "-"},
                                 document("site " + std::to_string(site), "10.0.1." + std::to_string(site) + "/32")));
        runs.push_back(spawnTool({"status"}));
    }
    for (auto& run : runs) {
        const Finished finished = run->finish();
        EXPECT_EQ(finished.status, 0) << finished.output << finished.error;
        EXPECT_EQ(response(finished).value("ok", false), true) << finished.output;
    }
    EXPECT_EQ(storedNames().size(), 8U);
}

}  // namespace
}  // namespace vxm::tunnel
