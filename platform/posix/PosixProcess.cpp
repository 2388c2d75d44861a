// SPDX-License-Identifier: Apache-2.0
#include "platform/posix/PosixProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace vxm::platform {

PosixProcess::PosixProcess() {
    (void)std::signal(SIGPIPE, SIG_IGN);
    // A standard stream the parent closed would be the number of the next
    // file opened (the store, say), and the response would be written into
    // it. /dev/null opened for reading holds its place; writes to it fail.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            (void)::open("/dev/null", O_RDONLY);
        }
    }
}

// Straight to the descriptor, not through stdout's buffer: what write reports
// is then what reached the reader, and nothing is left for the exit to flush
// (or to fail to flush, unseen).
bool PosixProcess::writeStandardOutput(std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(STDOUT_FILENO, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A reader that made its pipe non-blocking: wait for room, as a
            // blocking pipe would.
            pollfd room{STDOUT_FILENO, POLLOUT, 0};
            (void)::poll(&room, 1, -1);
            continue;
        }
        if (written <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// A failed write has no one to be reported to: the stream is the report.
void PosixProcess::writeStandardError(std::string_view text) {
    (void)std::fwrite(text.data(), 1, text.size(), stderr);
}

void PosixProcess::exit(int status) {
    (void)std::fflush(stdout);
    (void)std::fflush(stderr);
    // _Exit runs no atexit handlers and no static destructors, so it is safe
    // while the main thread is still inside the loop using those objects.
    std::_Exit(status);
}

std::optional<std::string> PosixProcess::readFile(const std::string& path, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::string> contents = readDescriptor(fd, maxBytes);
    ::close(fd);
    return contents;
}

std::optional<std::string> PosixProcess::readStandardInput(std::size_t maxBytes) {
    return readDescriptor(STDIN_FILENO, maxBytes);
}

std::optional<std::string> readDescriptor(int fd, std::size_t maxBytes) {
    constexpr std::size_t chunk = std::size_t{64} * 1024;
    std::string contents;
    while (contents.size() < maxBytes) {
        const std::size_t used = contents.size();
        const std::size_t wanted = std::min(chunk, maxBytes - used);
        contents.resize(used + wanted);
        const ssize_t got = ::read(fd, contents.data() + used, wanted);
        if (got < 0 && errno == EINTR) {
            contents.resize(used);
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        contents.resize(used + static_cast<std::size_t>(got));
        if (got == 0) {
            break;
        }
    }
    return contents;
}

}  // namespace vxm::platform
