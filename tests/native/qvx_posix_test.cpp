// The console program on Linux, run as a script runs it, against the
// simulated adapter on a pseudo-terminal.
#include "platform/memory/scripted_userio.h"
#include "serdev/posix/posix_serial.h"
#include "tests/native/pty_sim_device.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <sstream>

namespace qvx {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct TRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

class QvxPosix : public ::testing::Test {
protected:
    void SetUp() override {
        Home = MakeTempFolder();
        std::ofstream(Home + "/fw.rfw", std::ios::binary)
            << std::string(80, 'H') + std::string(16 * 256, 'P');
    }
    void TearDown() override { RemoveTree(Home); }

    pid_t Start(const std::vector<std::string>& args) {
        const pid_t pid = fork();
        if (pid == 0) {
            setenv("XDG_CONFIG_HOME", (Home + "/config").c_str(), 1);
            const int out = open((Home + "/out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = open((Home + "/err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(QVX_CLI)};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            chdir(Home.c_str());
            execv(QVX_CLI, argv.data());
            _exit(127);
        }
        return pid;
    }
    TRun Finish(pid_t pid) {
        TRun run;
        int status = 0;
        const auto end = std::chrono::steady_clock::now() + HangLimit;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            usleep(10000);
        }
        run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.Out = Output();
        run.Err = ReadAll(Home + "/err.txt");
        return run;
    }
    TRun Qvx(const std::vector<std::string>& args) { return Finish(Start(args)); }
    std::string Output() const { return ReadAll(Home + "/out.txt"); }

    std::string Home;
};

TEST_F(QvxPosix, IdentifiesAndUploadsOverASerialDevice) {
    TSimDevice device("identity.serial=QVPX0001\nboot.pagesize=256\n");
    ASSERT_TRUE(device.Ready);
    TRun run = Qvx({"identify", "--port", device.Link});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find("Serial:    QVPX0001\n"), std::string::npos) << run.Out;
    // The port is stored for the next run, in the user's settings file.
    EXPECT_NE(ReadAll(Home + "/config/qvx/settings").find("Port=s:" + device.Link),
              std::string::npos);

    run = Qvx({"upload", "fw.rfw"});
    EXPECT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("Writing Page #15 : Ok\nUpdating firmware\nUpdating firmware : Ok\n"),
              std::string::npos)
        << run.Out;

    // Another program holds the device.
    TScriptedUserIo boxes;
    TPosixSerial holder(boxes);
    holder.SetPortName(device.Link);
    ASSERT_TRUE(holder.Open());
    run = Qvx({"identify"});
    EXPECT_EQ(run.Status, 10);
    EXPECT_NE(run.Err.find("is busy"), std::string::npos) << run.Err;
}

TEST_F(QvxPosix, ADeviceThatVanishesMidUploadEndsItWithAnError) {
    TSimDevice device("boot.pagesize=256\nfault.disconnect.bytes=100\n");
    ASSERT_TRUE(device.Ready);
    TRun run = Qvx({"upload", "fw.rfw", "--json", "--port", device.Link});
    EXPECT_EQ(run.Status, 7) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("\"outcome\":\"link_lost\""), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("The adapter was disconnected: reconnect it"), std::string::npos)
        << run.Out;
}

TEST_F(QvxPosix, ABootLoaderSilentForTheTimeoutEndsTheUploadWithAnError) {
    TSimDevice device("boot.pagesize=256\nfault.silent=1\n");
    ASSERT_TRUE(device.Ready);
    TRun run = Qvx(
        {"upload", "fw.rfw", "--no-search", "--no-wait", "--timeout", "2", "--port", device.Link});
    EXPECT_EQ(run.Status, 7) << run.Out << run.Err;
    EXPECT_NE(run.Err.find("No answer from the boot loader for 2 s"), std::string::npos) << run.Err;
    EXPECT_NE(run.Out.find("No answer from the boot loader for 2 s: reconnect the adapter"),
              std::string::npos)
        << run.Out;
}

TEST_F(QvxPosix, AnInterruptCancelsTheUploadAsStopDoes) {
    TSimDevice device("boot.pagesize=256\nline.rate=2000\n");
    ASSERT_TRUE(device.Ready);
    const pid_t pid = Start({"upload", "fw.rfw", "--port", device.Link});
    const auto end = std::chrono::steady_clock::now() + HangLimit;
    while (Output().find("Writing Page #2 : Ok") == std::string::npos &&
           std::chrono::steady_clock::now() < end)
        usleep(10000);
    kill(pid, SIGINT);
    TRun run = Finish(pid);
    EXPECT_EQ(run.Status, 130) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("Firmware Update canceled...\n"), std::string::npos) << run.Out;
    EXPECT_EQ(run.Out.find("Writing Page #15"), std::string::npos) << run.Out;
}

} // namespace
} // namespace qvx
