// Idle cost: the real Configurator.exe left alone for 60 s with two simulated
// adapters of the stand-in D2XX library in its port list. The figure is the
// program's CPU time (kernel and user) over the wall time; the threads that
// used the most are listed on stderr.
#include "bench/process_figures.h"
#include "tests/e2e/remote_app.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using qvx::e2e::TRemoteApp;
using namespace qvx::bench;

constexpr const char* const Serials[] = {"QVIDLE01", "QVIDLE02"};
// The start-up's own work (window, port lists, first paint) is over by then.
constexpr DWORD SettleMs = 3000;

} // namespace

int main() {
    qvx::e2e::DeleteSettings();
    TRemoteApp app("idle", std::string("identity.serial=") + Serials[0] + "\n---\n" +
                               "identity.serial=" + Serials[1] + "\n");
    if (!app.Start()) {
        std::fprintf(stderr, "idle: the program did not start\n");
        return 1;
    }
    HWND combo = app.OfClass("ComboBox", app.SettingsPage());
    const bool listed = qvx::e2e::WaitFor([&] {
        int found = 0;
        for (const std::string& item : app.ComboItems(combo))
            for (const char* serial : Serials)
                found += item.compare(0, 12, std::string("USB:") + serial) == 0;
        return found == 2;
    });
    if (!listed) {
        std::fprintf(stderr, "idle: the port list does not show both adapters:");
        for (const std::string& item : app.ComboItems(combo))
            std::fprintf(stderr, " [%s]", item.c_str());
        std::fprintf(stderr, "\n");
        return 1;
    }
    HANDLE process = OpenProcessOf(app.Main());
    if (!process)
        return 1;
    DWORD pid = 0;
    GetWindowThreadProcessId(app.Main(), &pid);
    Sleep(SettleMs);

    std::map<DWORD, uint64_t> threadsBefore;
    for (const TThreadTime& t : ThreadTimes(pid))
        threadsBefore[t.Id] = t.Cpu;
    const uint64_t cpuBefore = CpuTime(process);
    const double wallBefore = Seconds();
    // QVX_IDLE_SECONDS shortens the run while a change is being tried out.
    Sleep(PositiveFromEnvironment("QVX_IDLE_SECONDS", 60) * 1000);
    const uint64_t cpuAfter = CpuTime(process);
    const double wall = Seconds() - wallBefore;
    std::vector<TThreadTime> threadsAfter = ThreadTimes(pid);

    // Under Wine, GetProcessTimes of another process counts its main thread
    // only; the sum over its threads is the whole process (no thread ends
    // while the program idles).
    const double processCpu = static_cast<double>(cpuAfter - cpuBefore) / 1e7;
    double threadCpu = 0;
    std::vector<std::pair<double, DWORD>> busiest;
    for (const TThreadTime& t : threadsAfter) {
        const auto before = threadsBefore.find(t.Id);
        const uint64_t start = before == threadsBefore.end() ? 0 : before->second;
        const double used = static_cast<double>(t.Cpu - start) / 1e7;
        threadCpu += used;
        busiest.emplace_back(used, t.Id);
    }
    std::sort(busiest.rbegin(), busiest.rend());
    for (const auto& [used, id] : busiest)
        if (used > 0)
            std::fprintf(stderr, "idle: thread %04lx used %.3f s%s\n",
                         static_cast<unsigned long>(id), used,
                         threadsBefore.count(id) ? "" : " (started while idle)");
    std::fprintf(stderr, "idle: %u threads; process times %.3f s, thread times %.3f s\n",
                 static_cast<unsigned>(threadsAfter.size()), processCpu, threadCpu);
    const double cpu = std::max(processCpu, threadCpu);
    CloseHandle(process);
    const bool closed = app.Close();
    qvx::e2e::DeleteSettings();

    std::printf("BENCH idle_seconds %.1f -\n", wall);
    std::printf("BENCH idle_cpu_seconds %.3f -\n", cpu);
    std::printf("BENCH idle_cpu_share %.4f 0.01\n", wall > 0 ? cpu / wall : 0.0);
    return closed ? 0 : 1;
}
