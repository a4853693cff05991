// The real kyvo-sim program started from a test: its standard output, its
// exit status, and the lines of its pseudo-terminals.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "protocol/ByteBuffer.h"
#include "sim/SimState.h"

namespace kyvo::sim::test {

struct Program {
    pid_t pid = -1;
    int out = -1;

    explicit Program(std::vector<std::string> args) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(pipeFds[1], 1);
            close(pipeFds[0]);
            close(pipeFds[1]);
            std::vector<char*> argv{const_cast<char*>(KYVO_SIM_PROGRAM)};
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(KYVO_SIM_PROGRAM, argv.data());
            _exit(127);
        }
        close(pipeFds[1]);
        out = pipeFds[0];
    }
    ~Program() {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0) close(out);
    }

    std::string readAll(int timeoutMs) {
        std::string text;
        char buf[4096];
        for (;;) {
            pollfd p{out, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) break;
            ssize_t n = read(out, buf, sizeof buf);
            if (n <= 0) break;
            text.append(buf, static_cast<std::size_t>(n));
        }
        return text;
    }

    std::string firstLine(int timeoutMs) {
        std::string line;
        char ch;
        while (line.empty() || line.back() != '\n') {
            pollfd p{out, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0 || read(out, &ch, 1) != 1) return line;
            line.push_back(ch);
        }
        line.pop_back();
        return line;
    }

    // The exit status, or -1 when the program has not ended within the time.
    int waitExit(int timeoutMs) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            }
            poll(nullptr, 0, 10);
        }
        return -1;
    }
};

inline tByteBuffer readFrameBytes(int fd, std::size_t atLeast, int timeoutMs) {
    tByteBuffer got;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < atLeast && std::chrono::steady_clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        std::uint8_t buf[256];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) got.insert(got.end(), buf, buf + n);
    }
    return got;
}

inline int openLine(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return fd;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

inline tByteBuffer fileBytes(const std::string& path) {
    auto b = readWholeFile(path);
    return b ? *b : tByteBuffer{};
}

}  // namespace kyvo::sim::test
