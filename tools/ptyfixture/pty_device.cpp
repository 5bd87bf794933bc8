// A device on a pseudo-terminal for the Windows suite's COM-port tests: opens
// a pty, makes it raw, points a symbolic link (the path Wine maps to COM5) at
// its slave side and serves it until stopped with SIGTERM.
//
//   pty_device LINK echo     every byte received is sent back unchanged
//
// Prints "ready" on standard output once the link exists.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

bool MakeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || std::string(argv[2]) != "echo") {
        std::fprintf(stderr, "usage: %s LINK echo\n", argv[0]);
        return 2;
    }
    const std::string link = argv[1];
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pty");
        return 1;
    }
    const char* slaveName = ptsname(master);
    // The slave stays open for the whole run, so that the pty keeps its
    // settings and reads never see a hang-up between Wine's opens.
    int slave = open(slaveName, O_RDWR | O_NOCTTY);
    if (slave < 0 || !MakeRaw(slave) || !MakeRaw(master)) {
        std::perror("raw");
        return 1;
    }
    unlink(link.c_str());
    if (symlink(slaveName, link.c_str()) != 0) {
        std::perror("symlink");
        return 1;
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::printf("ready %s\n", slaveName);
    std::fflush(stdout);

    // Reading never waits for writing: what the host has not taken yet
    // queues here, as it would in a device's own buffer.
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    std::string pending;
    char buffer[65536];
    while (!g_stop) {
        pollfd p{master, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        if (p.revents & POLLIN) {
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0)
                pending.append(buffer, static_cast<size_t>(n));
        }
        if (!pending.empty()) {
            ssize_t w = write(master, pending.data(), pending.size());
            if (w > 0)
                pending.erase(0, static_cast<size_t>(w));
        }
    }
    unlink(link.c_str());
    close(slave);
    close(master);
    return 0;
}
