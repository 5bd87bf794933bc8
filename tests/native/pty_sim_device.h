#pragma once
// The simulated adapter on a pseudo-terminal (pty_sim_device), started per
// test in a temporary folder of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace qvx {

// Every wait here is bounded only to turn a hang into a failure.
constexpr auto HangLimit = std::chrono::seconds(30);

inline std::string MakeTempFolder() {
    std::string pattern = ::testing::TempDir() + "qvx_posix_XXXXXX";
    return mkdtemp(&pattern[0]) ? pattern : std::string();
}

inline void RemoveTree(const std::string& folder) {
    if (!folder.empty())
        std::system(("rm -rf '" + folder + "'").c_str());
}

// The simulated adapter on a pty: LINK() names the device.
class TSimDevice {
public:
    explicit TSimDevice(const std::string& config) : Folder(MakeTempFolder()) {
        const std::string configPath = Folder + "/adapter.cfg";
        std::ofstream(configPath) << config;
        Link = Folder + "/tty";
        int out[2];
        if (pipe(out) != 0)
            return;
        Pid = fork();
        if (Pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            execl(QVX_PTY_SIM_DEVICE, QVX_PTY_SIM_DEVICE, Link.c_str(), "sim", configPath.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        std::string said;
        const auto end = std::chrono::steady_clock::now() + HangLimit;
        while (said.find("ready") == std::string::npos && std::chrono::steady_clock::now() < end) {
            pollfd p{out[0], POLLIN, 0};
            char buffer[256];
            ssize_t n = poll(&p, 1, 100) > 0 ? read(out[0], buffer, sizeof buffer) : 0;
            if (n < 0 || (n == 0 && p.revents & POLLHUP))
                break;
            said.append(buffer, static_cast<size_t>(n > 0 ? n : 0));
        }
        close(out[0]);
        Ready = said.find("ready") != std::string::npos;
    }
    ~TSimDevice() {
        if (Pid > 0) {
            kill(Pid, SIGTERM);
            waitpid(Pid, nullptr, 0);
        }
        RemoveTree(Folder);
    }
    std::string Folder;
    std::string Link;
    pid_t Pid = -1;
    bool Ready = false;
};

} // namespace qvx
