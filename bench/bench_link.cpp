// Link throughput through the stand-in D2XX library: a device streams a
// counting pattern at 300,000 bytes/s (3,000,000 bit/s) for 10 s while the
// consumer polls every 10 ms, as the session does.
#include "bench/bench_support.h"
#include "platform/userio.h"
#include "serdev/win32/Serdev.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdio>

namespace {

using qvx::bench::TLoader;
using qvx::bench::TSilentUserIo;

double CpuSeconds() {
    FILETIME create, exit, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &create, &exit, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

} // namespace

int main() {
    const int rate = 300000;
    const unsigned seconds = 10;
    const unsigned offered = rate * seconds;
    HMODULE standIn = LoadLibraryA("mvd2xx.dll");
    if (!standIn) {
        std::fprintf(stderr, "mvd2xx.dll stand-in not found\n");
        return 1;
    }
    auto add = reinterpret_cast<int (*)(const char*, const char*)>(
        reinterpret_cast<void*>(GetProcAddress(standIn, "QvxStandIn_AddDevice")));
    auto stream = reinterpret_cast<int (*)(const char*, int, unsigned)>(
        reinterpret_cast<void*>(GetProcAddress(standIn, "QvxStandIn_Stream")));
    add("BENCH001", "Benchmark stream");

    TLoader loader;
    TSilentUserIo userIo;
    qvx::TSerDev link(userIo, loader, nullptr);
    link.SetPortName("USB:BENCH001");
    if (!link.Open())
        return 1;

    timeBeginPeriod(1);
    const double cpuStart = CpuSeconds();
    const DWORD start = GetTickCount();
    stream("BENCH001", rate, offered);
    unsigned received = 0, lost = 0;
    unsigned char expected = 0;
    DWORD lastArrival = start;
    qvx::Bytes chunk;
    // Poll for the stream's length plus a drain of one second.
    while (GetTickCount() - start < (seconds + 1) * 1000 && received + lost < offered) {
        Sleep(10);
        if (link.InputCount() > 0) {
            chunk.clear();
            link.ReadAvailable(chunk);
            for (char c : chunk) {
                auto b = static_cast<unsigned char>(c);
                if (b != expected) // a gap in the counting pattern: bytes went missing
                    lost += static_cast<unsigned char>(b - expected);
                expected = static_cast<unsigned char>(b + 1);
            }
            received += static_cast<unsigned>(chunk.size());
            lastArrival = GetTickCount();
        }
    }
    const double elapsed = (GetTickCount() - start) / 1000.0;
    const double cpu = CpuSeconds() - cpuStart;
    timeEndPeriod(1);
    link.Close();
    if (received + lost < offered)
        lost += offered - received - lost; // never arrived within the drain time
    // The offered stream takes 10 s; a consumer that keeps up has everything
    // by then, one that falls behind needs longer.
    double window = (lastArrival - start) / 1000.0;
    if (window < seconds)
        window = seconds;
    const double achieved = received / window;
    std::printf("BENCH link_bytes_received %u %u\n", received, offered);
    std::printf("BENCH link_bytes_lost %u 0\n", lost);
    std::printf("BENCH link_throughput_ratio %.4f >=0.99\n", achieved / rate);
    std::printf("BENCH link_cpu_share %.4f -\n", cpu / elapsed);
    return 0;
}
