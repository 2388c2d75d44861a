#include "FaultSupport.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/linux/ProviderConfigurationCoding.h"

extern char** environ;

namespace vxm::tunnel::fault {

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kMaxPipedInput = 60000;

// Read once, before any test starts a thread.
const char* variable(const char* name) {
    return std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
}

// A write to a child that has already ended must fail with EPIPE, not end
// the test binary.
void ignoreBrokenPipes() {
    static const bool ignored = [] {
        struct sigaction action {};
        action.sa_handler = SIG_IGN;
        return ::sigaction(SIGPIPE, &action, nullptr) == 0;
    }();
    (void)ignored;
}

void readAvailable(int fd, std::string& into, bool& open) {
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
        into.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        open = false;
    }
}

// Runs in the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void becomeTool(const ChildSetup& setup, int input, int output, int error, char* const* argv,
                             char* const* envp) {
    if (::dup2(input, STDIN_FILENO) < 0 || ::dup2(output, STDOUT_FILENO) < 0 || ::dup2(error, STDERR_FILENO) < 0) {
        ::_exit(kSetupFailed);
    }
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &defaults, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    // The child has one thread.
    ::sigprocmask(SIG_SETMASK, &none, nullptr);  // NOLINT(concurrency-mt-unsafe)
    if (setup.umask) {
        ::umask(*setup.umask);
    }
    if (setup.fileSizeLimit) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        const rlimit limit{*setup.fileSizeLimit, *setup.fileSizeLimit};
        if (::sigaction(SIGXFSZ, &ignore, nullptr) != 0 || ::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            ::_exit(kSetupFailed);
        }
    }
    if (setup.unprivileged && ::geteuid() == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(kSetupFailed);
        }
    }
    ::execve(argv[0], argv, envp);
    ::_exit(127);
}

}  // namespace

double faultScale() {
    static const double scale = [] {
        const char* text = variable("VXM_FAULT_SCALE");
        if (text == nullptr || *text == '\0') {
            return 1.0;
        }
        char* end = nullptr;
        const double value = std::strtod(text, &end);
        if (end == text || *end != '\0' || !(value > 0)) {
            throw std::invalid_argument("VXM_FAULT_SCALE must be a positive number");
        }
        return value;
    }();
    return scale;
}

int scaled(int count) { return std::max(1, static_cast<int>(std::lround(count * faultScale()))); }

std::uint64_t faultSeed() {
    if (const char* text = variable("VXM_FAULT_SEED"); text != nullptr && *text != '\0') {
        return std::strtoull(text, nullptr, 10);
    }
    return std::random_device{}();
}

void reportFigures(const std::string& line) { std::cout << "[ FIGURES  ] " << line << std::endl; }

std::string displayName(const std::string& site) { return "Vexomi \xE2\x80\x94 " + site; }

std::string document(const std::string& site, const std::string& address) {
    return json{{"siteName", site},
                {"privateKey", kPrivateKey},
                {"address", address},
                {"serverPubkey", "xTIBA5rboUvnH4htodjb6e697QjLERt1NAB4mZqp8Dg="},
                {"endpoint", "198.51.100.1:51820"},
                {"allowedIPs", "0.0.0.0/0"}}
        .dump();
}

ToolRun::ToolRun(const std::string& storePath, const std::vector<std::string>& args, const std::string& input,
                 const ChildSetup& setup) {
    ignoreBrokenPipes();
    if (input.size() > kMaxPipedInput) {
        throw std::invalid_argument("piped input too long; use ChildSetup::standardInputFile");
    }
    // Everything the child needs is made before fork.
    std::string program = VXM_TUNNEL_PATH;
    std::vector<std::string> arguments{program};
    arguments.insert(arguments.end(), args.begin(), args.end());
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (!text.starts_with("VXM_STORE=") && !(setup.temporaryFolder && text.starts_with("TMPDIR="))) {
            environment.emplace_back(text);
        }
    }
    environment.push_back("VXM_STORE=" + storePath);
    if (setup.temporaryFolder) {
        environment.push_back("TMPDIR=" + *setup.temporaryFolder);
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    int childInput = in[0];
    if (setup.standardInputFile) {
        childInput = ::open(setup.standardInputFile->c_str(), O_RDONLY | O_CLOEXEC);
        if (childInput < 0) {
            throw std::system_error(errno, std::generic_category(), *setup.standardInputFile);
        }
    }
    started_ = Clock::now();
    pid_ = ::fork();
    if (pid_ == 0) {
        becomeTool(setup, childInput, out[1], err[1], argv.data(), envp.data());
    }
    const int forkError = errno;
    if (childInput != in[0]) {
        ::close(childInput);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (pid_ < 0) {
        ::close(in[1]);
        throw std::system_error(forkError, std::generic_category(), "fork");
    }
    for (std::size_t written = 0; written < input.size();) {
        const ssize_t wrote = ::write(in[1], input.data() + written, input.size() - written);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            break;  // the child ended without reading it all
        }
        written += static_cast<std::size_t>(wrote);
    }
    ::close(in[1]);
}

ToolRun::~ToolRun() {
    if (!reaped_) {
        kill();
        ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
    ::close(err_);
}

void ToolRun::kill() const { ::kill(pid_, SIGKILL); }

Outcome ToolRun::finish(std::chrono::milliseconds timeout) {
    Outcome outcome;
    const auto deadline = started_ + timeout;
    bool outOpen = true;
    bool errOpen = true;
    int waitStatus = 0;
    bool timedOut = false;
    while (!reaped_ || outOpen || errOpen) {
        if (!reaped_ && ::waitpid(pid_, &waitStatus, WNOHANG) == pid_) {
            reaped_ = true;
            outcome.took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_);
        }
        if (!reaped_ && !timedOut && Clock::now() > deadline) {
            timedOut = true;
            ADD_FAILURE() << "the run did not end within " << timeout.count() << " ms";
            kill();
        }
        pollfd streams[2] = {{outOpen ? out_ : -1, POLLIN, 0}, {errOpen ? err_ : -1, POLLIN, 0}};
        if (::poll(streams, 2, reaped_ ? 0 : 2) > 0) {
            if ((streams[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                readAvailable(out_, outcome.output, outOpen);
            }
            if ((streams[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                readAvailable(err_, outcome.error, errOpen);
            }
        } else if (reaped_) {
            // Ended and nothing more to read: whoever still holds the pipes
            // (nobody should) is not waited for.
            break;
        }
    }
    if (WIFEXITED(waitStatus)) {
        outcome.status = WEXITSTATUS(waitStatus);
    } else if (WIFSIGNALED(waitStatus)) {
        outcome.signal = WTERMSIG(waitStatus);
    }
    return outcome;
}

Outcome runTool(const std::string& storePath, const std::vector<std::string>& args, const std::string& input,
                const ChildSetup& setup) {
    return ToolRun(storePath, args, input, setup).finish();
}

json responseOf(const Outcome& outcome) {
    const std::size_t end = outcome.output.find('\n');
    if (end == std::string::npos || end + 1 != outcome.output.size()) {
        return nullptr;
    }
    json parsed = json::parse(outcome.output, nullptr, false);
    return parsed.is_discarded() ? json(nullptr) : parsed;
}

std::vector<StoredConfiguration> StoreLook::named(const std::string& name) const {
    std::vector<StoredConfiguration> found;
    std::copy_if(configurations.begin(), configurations.end(), std::back_inserter(found),
                 [&](const StoredConfiguration& configuration) { return configuration.name == name; });
    return found;
}

StoreLook lookInto(const std::string& storePath) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(storePath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        const std::string message = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close_v2(db);
        throw std::runtime_error("cannot open " + storePath + ": " + message);
    }
    sqlite3_busy_timeout(db, 10000);
    StoreLook look;
    auto query = [&](const char* sql, auto&& row) {
        sqlite3_stmt* statement = nullptr;
        int code = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
        while (code == SQLITE_OK && (code = sqlite3_step(statement)) == SQLITE_ROW) {
            row(statement);
            code = SQLITE_OK;
        }
        const std::string message = sqlite3_errmsg(db);
        sqlite3_finalize(statement);
        if (code != SQLITE_DONE) {
            sqlite3_close_v2(db);
            throw std::runtime_error("cannot read " + storePath + ": " + message);
        }
    };
    auto text = [](sqlite3_stmt* statement, int column) -> std::optional<std::string> {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        if (bytes == nullptr) {
            return std::nullopt;
        }
        return std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
    };
    query("PRAGMA integrity_check", [&](sqlite3_stmt* statement) {
        look.integrity += (look.integrity.empty() ? "" : "; ") + text(statement, 0).value_or("");
    });
    query("SELECT key, display_name, provider_configuration, status FROM configurations ORDER BY key",
          [&](sqlite3_stmt* statement) {
              StoredConfiguration configuration{.key = sqlite3_column_int64(statement, 0),
                                                .name = text(statement, 1),
                                                .status = sqlite3_column_int(statement, 3)};
              if (const std::optional<std::string> encoded = text(statement, 2)) {
                  const auto values = platform::decodeProviderConfiguration(*encoded);
                  if (values && values->contains("address") && values->at("address").is_string()) {
                      configuration.address = values->at("address").get<std::string>();
                  }
              }
              look.configurations.push_back(std::move(configuration));
          });
    sqlite3_close_v2(db);
    return look;
}

std::map<std::string, std::string> storeFiles(const std::string& storePath) {
    std::map<std::string, std::string> files;
    for (const char* suffix : kStoreSuffixes) {
        std::ifstream in(storePath + suffix, std::ios::binary);
        if (in) {
            files[suffix] = {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        }
    }
    return files;
}

}  // namespace vxm::tunnel::fault
