// The console program on Linux, run as a script runs it, against the
// simulated adapter on a pseudo-terminal.
#include "platform/memory/scripted_userio.h"
#include "serdev/posix/posix_serial.h"
#include "tests/native/pty_sim_device.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <termios.h>

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

    // Standard output and error go to out.txt and err.txt, or to the terminal
    // named for them.
    pid_t Start(const std::vector<std::string>& args, const std::string& outTerminal = "",
                const std::string& errTerminal = "") {
        const pid_t pid = fork();
        if (pid == 0) {
            setenv("XDG_CONFIG_HOME", (Home + "/config").c_str(), 1);
            const int out = outTerminal.empty() ? open((Home + "/out.txt").c_str(),
                                                       O_WRONLY | O_CREAT | O_TRUNC, 0600)
                                                : open(outTerminal.c_str(), O_WRONLY | O_NOCTTY);
            const int err = errTerminal.empty() ? open((Home + "/err.txt").c_str(),
                                                       O_WRONLY | O_CREAT | O_TRUNC, 0600)
                                                : open(errTerminal.c_str(), O_WRONLY | O_NOCTTY);
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

    // Runs qvx with standard output (out) or standard error (err) on a
    // terminal; gives what the terminal received.
    std::string OnTerminal(const std::vector<std::string>& args, bool out, bool err) {
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return "no pty";
        const std::string name = ptsname(master);
        // Raw: the terminal passes the bytes as they are written.
        const int slave = open(name.c_str(), O_RDWR | O_NOCTTY);
        termios mode{};
        tcgetattr(slave, &mode);
        cfmakeraw(&mode);
        tcsetattr(slave, TCSANOW, &mode);
        const pid_t pid = Start(args, out ? name : "", err ? name : "");
        std::string shown;
        const auto end = std::chrono::steady_clock::now() + HangLimit;
        int status = 0;
        bool exited = false;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{master, POLLIN, 0};
            char buffer[512];
            if (poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
                const ssize_t n = read(master, buffer, sizeof buffer);
                if (n > 0)
                    shown.append(buffer, static_cast<size_t>(n));
                continue;
            }
            if (exited)
                break;
            exited = waitpid(pid, &status, WNOHANG) == pid;
        }
        if (!exited) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        close(slave);
        close(master);
        return shown;
    }

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

TEST_F(QvxPosix, AdapterTextReachesATerminalFilteredAndAFileUnchanged) {
    TSimDevice device(
        "identity.serial=QV\\x1b[2J01\nidentity.hardware=H\\x1b[7mW\\x07\\x7f\\xc0\n");
    ASSERT_TRUE(device.Ready);
    const std::string shown = OnTerminal({"identify", "--port", device.Link}, true, false);
    EXPECT_NE(shown.find("Serial:    QV?[2J01"), std::string::npos) << shown;
    EXPECT_NE(shown.find("H?[7mW??\xc0"), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;

    TRun run = Qvx({"identify", "--port", device.Link});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find("Serial:    QV\x1b[2J01"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("H\x1b[7mW\x07\x7f\xc0"), std::string::npos) << run.Out;

    // Standard error alike.
    const std::string said =
        OnTerminal({"identify", "--port", device.Link, "--x\x1b[2J"}, false, true);
    EXPECT_NE(said.find("'--x?[2J'"), std::string::npos) << said;
    run = Qvx({"identify", "--port", device.Link, "--x\x1b[2J"});
    EXPECT_NE(run.Err.find("'--x\x1b[2J'"), std::string::npos) << run.Err;
}

TEST_F(QvxPosix, ASettingsWriteThatFailsWarnsOnceAndKeepsTheResult) {
    TSimDevice device("identity.serial=QVPX0001\n");
    ASSERT_TRUE(device.Ready);
    // The settings folder cannot be made: a file has its parent's name.
    std::ofstream(Home + "/config") << "not a folder";
    TRun run = Qvx({"identify", "--port", device.Link});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find("Serial:    QVPX0001\n"), std::string::npos) << run.Out;
    // One line, naming what was not stored.
    EXPECT_EQ(run.Err, "qvx: warning: could not store the settings \"Mode\", \"Port\"\n");
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

TEST_F(QvxPosix, AFileOfMorePagesThanTheBootLoaderCanNameIsABadFile) {
    TSimDevice device("boot.pagesize=1\n");
    ASSERT_TRUE(device.Ready);
    std::ofstream(Home + "/big.rfw", std::ios::binary) << std::string(80 + 65536, 'x');
    TRun run = Qvx({"upload", "big.rfw", "--json", "--port", device.Link});
    EXPECT_EQ(run.Status, 8) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("\"outcome\":\"file_too_large\""), std::string::npos) << run.Out;
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
