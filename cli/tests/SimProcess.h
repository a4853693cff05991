// The real kyvo-sim as a child process on its own pseudo-terminal, for the
// end-to-end tests and the read benchmark. KYVO_SIM_PROGRAM names the program.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace kyvo::testing {

struct SimProcess {
    pid_t pid = -1;
    std::string port;  // the slave side's path; empty when the program did not start

    explicit SimProcess(const std::vector<std::string>& args = {}) {
        std::vector<char*> argv{const_cast<char*>(KYVO_SIM_PROGRAM)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            execv(KYVO_SIM_PROGRAM, argv.data());
            _exit(127);
        }
        close(fds[1]);
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n') port += c;
        close(fds[0]);
    }
    ~SimProcess() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
};

}  // namespace kyvo::testing
