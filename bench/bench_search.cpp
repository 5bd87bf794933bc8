// Search latency: from the "Search" click to the unlocked window with the
// identity shown, for a simulated adapter that answers a 1 KiB identity reply
// at 115200 bit/s (11520 bytes/s) through the stand-in D2XX library. The
// window runs on the real timers, registry and link, without its controls on
// screen.
#include "app/Unitmain.h"
#include "bench/wall_clock.h"
#include "platform/win32/win_platform.h"
#include "serdev/win32/Serdev.h"

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using qvx::bench::Seconds;

const char* const Serial = "QVBENCH1";
constexpr double LineRate = 11520.0; // bytes per second

// One port: the simulated adapter.
class TBenchPorts : public qvx::IPortListControl {
public:
    void PauseLists() override {}
    void ResumeLists() override {}
    void RequestUsbRescan() override {}
    void GetPortLists(qvx::TPortLists& lists) override {
        lists.Add(std::string("USB:") + Serial, "Benchmark adapter", "");
    }
};

void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

} // namespace

int main() {
    // An identity reply of about 1 KiB: the usual lines plus padding lines.
    std::string config = "identity.serial=QVBENCH1\nline.rate=11520\nline.chunk=64\n";
    for (int i = 0; i < 24; ++i)
        config += "identity.extra=PA:" + std::string(30, static_cast<char>('a' + i % 26)) + "\n";
    HMODULE standIn = LoadLibraryA("mvd2xx.dll");
    if (!standIn) {
        std::fprintf(stderr, "mvd2xx.dll stand-in not found\n");
        return 1;
    }
    auto addSim = reinterpret_cast<int (*)(const char*, const char*, const char*, char*, int)>(
        reinterpret_cast<void*>(GetProcAddress(standIn, "QvxStandIn_AddSimDevice")));
    char error[256] = {};
    if (!addSim || !addSim(Serial, "Benchmark adapter", config.c_str(), error, sizeof error)) {
        std::fprintf(stderr, "cannot add the simulated adapter: %s\n", error);
        return 1;
    }

    timeBeginPeriod(1);
    qvx::TWinPlatform platform;
    qvx::TPlatform seams = platform.Platform();
    qvx::TSerDev link(platform.UserIo, platform.Libraries, std::make_unique<TBenchPorts>());
    qvx::TfrmMain form(seams, &link, "SOFTWARE\\Morveklink\\Benchmark");
    form.Settings.AppProductName = "Quorvelix";
    form.RebuildPortList(true);

    std::vector<double> latencies;
    size_t replyBytes = 0;
    for (int run = 0; run < 20; ++run) {
        form.edSerial.SetText("");
        const double start = Seconds();
        form.btSearch.UserClick();
        while (form.Session.State() != qvx::ssIdle) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            Pump();
        }
        latencies.push_back(Seconds() - start);
        if (form.edSerial.Text() != "QVBENCH1") {
            std::fprintf(stderr, "search %d did not identify the adapter\n", run);
            return 1;
        }
        replyBytes = 0;
        for (const std::string& line : form.memLog.Lines())
            replyBytes += line.size() + 2;
    }
    timeEndPeriod(1);
    platform.Registry.DeleteKey("SOFTWARE\\Morveklink\\Benchmark");

    std::sort(latencies.begin(), latencies.end());
    const double median = (latencies[9] + latencies[10]) / 2;
    // The reply's wire time from the lines the log keeps, with the start and
    // end markers' line breaks; the few mode lines the log drops are not
    // counted, which only makes the expected time shorter.
    const double replyWire = (replyBytes + 2 + 2) / LineRate;
    const double commandWire = 12 / LineRate;
    // Fixed costs: the 100 ms pause of Close, and the ticks the states need
    // around the reply (start, clear, send, sent, done) at 10 ms each.
    const double fixed = 0.100 + 5 * 0.010;
    const double expected = replyWire + commandWire + fixed;
    std::printf("BENCH search_latency_median_ms %.1f -\n", median * 1000);
    std::printf("BENCH search_expected_ms %.1f -\n", expected * 1000);
    std::printf("BENCH search_reply_bytes %u -\n", static_cast<unsigned>(replyBytes));
    std::printf("BENCH search_latency_ratio %.3f <=1.03\n", median / expected);
    return 0;
}
