// A device on a pseudo-terminal for the Windows suite's COM-port tests: opens
// a pty, makes it raw, points a symbolic link (the path Wine maps to COM5) at
// its slave side and serves it until stopped with SIGTERM.
//
//   pty_device LINK echo         every byte received is sent back unchanged
//   pty_device LINK sim CONFIG   a simulated adapter, configured by the file
//                                CONFIG, serves the line (pty_sim.cpp; only
//                                the native tree's pty_sim_device has it);
//                                at the end it prints "bytes FROM TO", the
//                                bytes that crossed the line each way
//
// A test that wants another device on the line (the simulated adapter)
// connects to the TCP port on 127.0.0.1 written in the file LINK-relay: while
// it stays connected, the pty's bytes go to it and its bytes come out of the
// pty instead of the echo, starting from an empty line. Prints "ready" on
// standard output once the link and the port file exist.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#ifdef QVX_PTY_SIM
#include "pty_sim.h"
#endif

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

// A listening socket on an ephemeral port of 127.0.0.1; -1 on failure.
int Listen(int& port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(fd, 1) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    port = ntohs(address.sin_port);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

// Writes as much of pending as fd takes now.
void Flush(int fd, std::string& pending) {
    if (pending.empty())
        return;
    ssize_t w = write(fd, pending.data(), pending.size());
    if (w > 0)
        pending.erase(0, static_cast<size_t>(w));
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
    const std::string mode = argc >= 3 ? argv[2] : "";
#ifdef QVX_PTY_SIM
    const bool sim = mode == "sim" && argc >= 4;
#else
    const bool sim = false;
#endif
    if (mode != "echo" && !sim) {
        std::fprintf(stderr, "usage: %s LINK echo | LINK sim CONFIG\n", argv[0]);
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
#ifdef QVX_PTY_SIM
    if (sim) {
        std::signal(SIGTERM, OnSignal);
        std::signal(SIGINT, OnSignal);
        return ServeSim(master, slave, link, argv[3], g_stop);
    }
#endif
    int port = 0;
    int server = Listen(port);
    const std::string portFile = link + "-relay"; // "com5.port" would be COM5 itself to Wine
    FILE* file = std::fopen(portFile.c_str(), "w");
    if (server < 0 || !file || std::fprintf(file, "%d\n", port) < 0 || std::fclose(file) != 0) {
        std::perror("port");
        return 1;
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);
    std::printf("ready %s port %d\n", slaveName, port);
    std::fflush(stdout);

    // Reading never waits for writing: what the other side has not taken
    // yet queues here, as it would in a device's own buffer.
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    int client = -1;
    std::string toPty, toClient;
    char buffer[65536];
    while (!g_stop) {
        pollfd p[3] = {{master, static_cast<short>(POLLIN | (toPty.empty() ? 0 : POLLOUT)), 0},
                       {server, POLLIN, 0},
                       {client, static_cast<short>(POLLIN | (toClient.empty() ? 0 : POLLOUT)), 0}};
        if (poll(p, client < 0 ? 2 : 3, 100) <= 0)
            continue;
        if (p[1].revents & POLLIN) {
            int accepted = accept(server, nullptr, nullptr);
            if (accepted >= 0 && client >= 0) {
                close(accepted); // one device at a time
            } else if (accepted >= 0) {
                client = accepted;
                fcntl(client, F_SETFL, fcntl(client, F_GETFL) | O_NONBLOCK);
                toPty.clear();
                toClient.clear();
            }
        }
        if (p[0].revents & POLLIN) {
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0)
                (client >= 0 ? toClient : toPty).append(buffer, static_cast<size_t>(n));
        }
        if (client >= 0 && (p[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t n = read(client, buffer, sizeof buffer);
            if (n > 0) {
                toPty.append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EAGAIN) {
                close(client); // back to the echo, from an empty line
                client = -1;
                toPty.clear();
                toClient.clear();
            }
        }
        Flush(master, toPty);
        if (client >= 0)
            Flush(client, toClient);
    }
    unlink(portFile.c_str());
    unlink(link.c_str());
    close(slave);
    close(master);
    return 0;
}
