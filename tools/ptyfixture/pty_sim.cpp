// The sim mode of pty_device: one simulated adapter served on the pty in
// real time. Every millisecond or so the adapter's clock is moved on by the
// wall-clock time passed, what it sends goes to the master side, and what
// the master side has received goes to the adapter. With a line rate the
// host's bytes are taken off the pty at that rate too, so a write stays in
// the pty's buffer until its bytes have crossed the line. With
// fault.write.stall the host's bytes are never taken off the pty; with
// fault.write.delay they reach the adapter that long after they were taken
// off it. When the adapter
// disconnects, the device vanishes: the master is closed (the host's reads
// fail) and LINK is removed.
#include "pty_sim.h"

#include "sim/sim_adapter.h"
#include "sim/sim_config.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <utility>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// How long a vanishing device waits for the host to take what already
// reached it before the line goes.
constexpr int DrainMs = 200;

void Vanish(int master, int slave, const std::string& link) {
    for (int waited = 0; waited < DrainMs; ++waited) {
        int left = 0;
        if (ioctl(slave, FIONREAD, &left) != 0 || left == 0)
            break;
        poll(nullptr, 0, 1);
    }
    close(master);
    close(slave);
    unlink(link.c_str());
}

} // namespace

int ServeSim(int master, int slave, const std::string& link, const std::string& configPath,
             volatile std::sig_atomic_t& stop) {
    qvx::TSimConfig config;
    std::string error;
    if (!qvx::LoadSimConfig("@" + configPath, config, error)) {
        std::fprintf(stderr, "%s: %s\n", configPath.c_str(), error.c_str());
        unlink(link.c_str());
        return 1;
    }
    qvx::TSimAdapter sim(config);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    std::printf("ready %s sim\n", ptsname(master));
    std::fflush(stdout);

    using TClock = std::chrono::steady_clock;
    const TClock::time_point start = TClock::now();
    uint64_t simulatedUs = 0;
    double lineFreeAt = 0; // seconds since start: the host's line is busy until then
    bool lineIdle = true;
    std::string toPty;
    char buffer[65536];
    bool gone = false;
    uint64_t fromHost = 0, toHost = 0;
    // Host bytes taken off the pty that reach the adapter later (seconds since start).
    std::deque<std::pair<double, qvx::Bytes>> held;
    while (!stop) {
        if (gone) {
            poll(nullptr, 0, 100);
            continue;
        }
        pollfd p{master, static_cast<short>(POLLIN | (toPty.empty() ? 0 : POLLOUT)), 0};
        poll(&p, 1, 1);
        const TClock::duration passed = TClock::now() - start;
        const uint64_t nowUs = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(passed).count());
        const double now = std::chrono::duration<double>(passed).count();
        sim.Advance(nowUs - simulatedUs);
        simulatedUs = nowUs;

        while (!held.empty() && held.front().first <= now) {
            sim.HostWrite(held.front().second);
            held.pop_front();
        }
        // The host's bytes, as far as they have crossed the line by now.
        int waiting = 0;
        if (config.WriteStall || ioctl(master, FIONREAD, &waiting) != 0)
            waiting = 0;
        if (waiting > 0) {
            size_t allowed = std::min(sizeof buffer, static_cast<size_t>(waiting));
            const uint64_t rate = config.BytesPerSecond;
            if (rate > 0) {
                if (lineIdle)
                    lineFreeAt = std::max(lineFreeAt, now);
                lineIdle = false;
                const double crossed = (now - lineFreeAt) * static_cast<double>(rate);
                allowed = crossed < 1 ? 0 : std::min(allowed, static_cast<size_t>(crossed));
            }
            const ssize_t n = allowed > 0 ? read(master, buffer, allowed) : 0;
            if (n > 0) {
                if (rate > 0)
                    lineFreeAt += static_cast<double>(n) / static_cast<double>(rate);
                const qvx::Bytes bytes(buffer, static_cast<size_t>(n));
                if (config.WriteDelayUs > 0 || !held.empty())
                    held.emplace_back(now + static_cast<double>(config.WriteDelayUs) / 1e6, bytes);
                else
                    sim.HostWrite(bytes);
                fromHost += static_cast<uint64_t>(n);
            }
        } else {
            lineIdle = true;
        }

        toPty += sim.HostRead(sizeof buffer);
        if (!toPty.empty()) {
            const ssize_t w = write(master, toPty.data(), toPty.size());
            if (w > 0) {
                toPty.erase(0, static_cast<size_t>(w));
                toHost += static_cast<uint64_t>(w);
            }
        }
        if (!sim.Connected()) {
            Vanish(master, slave, link);
            gone = true;
            std::fprintf(stderr, "disconnected\n");
        }
    }
    if (!gone) {
        close(master);
        close(slave);
        unlink(link.c_str());
    }
    // What crossed the line, for a benchmark's wire time.
    std::printf("bytes %llu %llu\n", static_cast<unsigned long long>(fromHost),
                static_cast<unsigned long long>(toHost));
    std::fflush(stdout);
    return 0;
}
