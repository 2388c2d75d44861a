// Runs the built vxm-launcher as a real process, from a folder in a temporary
// folder next to a recording agent.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace vxm::launcher {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Logs each run's arguments and working folder, then ends a moment later, so
// that two runs at once would show interleaved.
constexpr const char* kAgentScript = R"script(#!/bin/sh
{
  printf 'start %s\n' "$#"
  for argument in "$@"; do printf 'arg [%s]\n' "$argument"; done
  printf 'cwd [%s]\n' "$(pwd -P)"
} >> "$VXM_TEST_AGENT_LOG"
sleep 0.2
printf 'end\n' >> "$VXM_TEST_AGENT_LOG"
)script";

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// "file://" and the path with every byte outside [A-Za-z0-9/._-] escaped.
std::string fileURI(const std::string& path) {
    std::string uri = "file://";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((std::isalnum(byte) != 0 && byte < 0x80) || c == '/' || c == '.' || c == '_' || c == '-') {
            uri.push_back(c);
        } else {
            constexpr const char* kHex = "0123456789ABCDEF";
            uri += {'%', kHex[byte >> 4U], kHex[byte & 0xFU]};
        }
    }
    return uri;
}

struct Outcome {
    bool exited = false;
    std::chrono::milliseconds elapsed{0};
    std::string standardOutput;
    std::string standardError;
};

class LauncherProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef VXM_LAUNCHER_PATH
        GTEST_SKIP() << "vxm-launcher is not built on this machine";
#else
        std::string pattern = (fs::temp_directory_path() / "vxm-launcher-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = fs::canonical(pattern);
        work = folder / "work";
        fs::create_directories(work);
        agentLog = folder / "agent.log";
        installLauncher(folder / "T.app" / "Contents" / "MacOS");
#endif
    }

    void TearDown() override {
        if (!folder.empty()) {
            fs::remove_all(folder);
        }
    }

    // Copies the launcher into `macOS` and returns its path there.
    fs::path installLauncher(const fs::path& macOS) {
        fs::create_directories(macOS);
        fs::path launcher = macOS / "vxm-launcher";
#ifdef VXM_LAUNCHER_PATH
        fs::copy_file(VXM_LAUNCHER_PATH, launcher, fs::copy_options::overwrite_existing);
#endif
        return launcher;
    }

    // Puts the recording agent into `folder`.
    static void installAgent(const fs::path& folder) {
        const fs::path agent = folder / "vxm";
        fs::create_directories(folder);
        std::ofstream(agent) << kAgentScript;
        fs::permissions(agent, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    }

    // Runs the launcher in `work` with its streams caught in files; kills it
    // after ten seconds. The user's service manager is out of its reach: no
    // session bus to ask it on, and systemctl, where there is one, says
    // nothing about that.
    Outcome run(const fs::path& launcher, const std::vector<std::string>& arguments) const {
        const std::string out = (folder / "stdout").string();
        const std::string err = (folder / "stderr").string();
        const std::string logSetting = "VXM_TEST_AGENT_LOG=" + agentLog.string();
        const std::string runtimeSetting = "XDG_RUNTIME_DIR=" + folder.string();
        const std::string busSetting = "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (folder / "no-bus").string();
        const std::string quietSetting = "SYSTEMD_LOG_LEVEL=emerg";
        const std::string launcherPath = launcher.string();
        const std::string workPath = work.string();
        std::vector<char*> argv{const_cast<char*>(launcherPath.c_str())};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (char** variable = environ; *variable != nullptr; ++variable) {
            const std::string_view name(*variable);
            if (!name.starts_with("XDG_RUNTIME_DIR=") && !name.starts_with("DBUS_SESSION_BUS_ADDRESS=") &&
                !name.starts_with("SYSTEMD_LOG_LEVEL=")) {
                envp.push_back(*variable);
            }
        }
        envp.push_back(const_cast<char*>(logSetting.c_str()));
        envp.push_back(const_cast<char*>(runtimeSetting.c_str()));
        envp.push_back(const_cast<char*>(busSetting.c_str()));
        envp.push_back(const_cast<char*>(quietSetting.c_str()));
        envp.push_back(nullptr);

        const auto started = std::chrono::steady_clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int outFD = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int errFD = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (outFD < 0 || errFD < 0 || ::dup2(outFD, 1) < 0 || ::dup2(errFD, 2) < 0 || ::chdir(workPath.c_str()) != 0) {
                ::_exit(126);
            }
            ::execve(launcherPath.c_str(), argv.data(), envp.data());
            ::_exit(127);
        }
        Outcome outcome;
        if (pid < 0) {
            ADD_FAILURE() << "fork failed";
            return outcome;
        }
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() - started > 10s) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                ADD_FAILURE() << "the launcher did not end";
                return outcome;
            }
            std::this_thread::sleep_for(5ms);
        }
        outcome.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        outcome.exited = WIFEXITED(status) && WEXITSTATUS(status) != 126 && WEXITSTATUS(status) != 127;
        outcome.standardOutput = readFile(out);
        outcome.standardError = readFile(err);
        return outcome;
    }

    fs::path folder;
    fs::path work;
    fs::path agentLog;
};

// The log of one agent run for `path`.
std::string importRun(const std::string& path, const fs::path& work) {
    return "start 2\narg [import]\narg [" + path + "]\ncwd [" + work.string() + "]\nend\n";
}

TEST_F(LauncherProcessTest, ImportsDocumentsInOrderOneAtATimeThenExits) {
    installAgent(folder / "T.app/Contents/MacOS");
    const std::string first = (folder / "docs" / "My Doc ü.vxm").string();
    const std::string second = (folder / "docs" / "東京 \"2\" $HOME.vxm").string();

    const Outcome outcome = run(folder / "T.app/Contents/MacOS/vxm-launcher",
                                {first, fileURI(second), (folder / "docs" / "notes.txt").string(),
                                 (folder / "docs" / "UPPER.VXM").string(), "relative name.vxm", "-v.vxm"});

    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(readFile(agentLog), importRun(first, work) + importRun(second, work) +
                                      importRun((work / "relative name.vxm").string(), work) +
                                      importRun((work / "-v.vxm").string(), work));
    EXPECT_EQ(outcome.standardOutput, "");
    EXPECT_EQ(outcome.standardError, "");
}

TEST_F(LauncherProcessTest, PlainLaunchEndsAfterTheWindowWithoutRunningTheAgent) {
    installAgent(folder / "T.app/Contents/MacOS");
    const Outcome outcome = run(folder / "T.app/Contents/MacOS/vxm-launcher", {});
    EXPECT_TRUE(outcome.exited);
    EXPECT_GE(outcome.elapsed, 500ms);
    EXPECT_FALSE(fs::exists(agentLog));
    EXPECT_EQ(outcome.standardOutput, "");
    EXPECT_EQ(outcome.standardError, "");
}

TEST_F(LauncherProcessTest, MissingAgentIsDroppedSilently) {
    const Outcome outcome = run(folder / "T.app/Contents/MacOS/vxm-launcher", {"/tmp/a.vxm", "/tmp/b.vxm"});
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.standardOutput, "");
    EXPECT_EQ(outcome.standardError, "");
}

TEST_F(LauncherProcessTest, InstalledTheAgentIsFoundBesideTheExecutable) {
    const fs::path launcher = installLauncher(folder / "usr/libexec/vexomi");
    installAgent(folder / "usr/libexec/vexomi");
    const Outcome outcome = run(launcher, {"/tmp/a.vxm"});
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(readFile(agentLog), importRun("/tmp/a.vxm", work));
}

}  // namespace
}  // namespace vxm::launcher
