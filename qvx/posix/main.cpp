// Entry point of qvx on a POSIX system: the adapter on a serial device, the
// settings in a file under the user's configuration folder.
#include "platform/posix/posix_platform.h"
#include "qvx/cli.h"
#include "qvx/terminal_text.h"
#include "serdev/posix/posix_serial.h"

#include <chrono>
#include <csignal>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
}

class TPosixConsole : public qvx::IConsole {
public:
    // The loop's timers, once the platform that holds them exists.
    qvx::TLoopTimers* Timers = nullptr;
    // Text for a terminal is filtered here, whoever writes it; a file or a
    // pipe gets every byte.
    void Out(const std::string& text) override {
        Write(STDOUT_FILENO, OutTerminal ? qvx::TerminalText(text) : text);
    }
    void Err(const std::string& text) override {
        Write(STDERR_FILENO, ErrTerminal ? qvx::TerminalText(text) : text);
    }
    bool ErrIsTerminal() override { return ErrTerminal; }
    void RunUntil(const std::function<bool()>& done) override {
        Timers->RunUntil([&] { return Interrupted() || done(); });
    }
    bool Interrupted() override { return g_interrupted != 0; }
    uint64_t NowMs() override {
        using namespace std::chrono;
        return static_cast<uint64_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }

private:
    const bool OutTerminal = isatty(STDOUT_FILENO) != 0;
    const bool ErrTerminal = isatty(STDERR_FILENO) != 0;

    static void Write(int fd, const std::string& text) {
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = write(fd, text.data() + done, text.size() - done);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader that goes away ends the output, not the program.
    signal(SIGPIPE, SIG_IGN);

    TPosixConsole console;
    qvx::TConsoleUserIo boxes(console);
    qvx::TPosixPlatform platform(boxes);
    console.Timers = &platform.Timers;
    qvx::TPlatform seams = platform.Platform();
    qvx::TPosixSerial link(boxes);
    qvx::TCliHost host{seams, boxes, link, console, {}, false, {}};
    host.PortBusy = [&link] { return qvx::PosixSerialBusy(link.LastError()); };
    const std::vector<std::string> args(argv + 1, argv + argc);
    int status = qvx::RunCli(args, host);
    if (g_interrupted && status == qvx::qvxexit::Ok)
        status = qvx::qvxexit::Interrupted;
    return status;
}
