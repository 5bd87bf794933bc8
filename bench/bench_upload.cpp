// Firmware upload time against the wire limit: a 64 KiB payload goes to the
// simulated boot loader through the stand-in D2XX library, paced at
// 115200 bit/s (11520 bytes/s), once in 128-byte pages and once in 1024-byte
// pages. The real link, updater and timers run under a message loop, as in
// the program. The wire time counts every byte that crossed the line in both
// directions at the line's rate; the ratio shows what the polling costs.
#include "bench/bench_support.h"
#include "bench/payload.h"
#include "bench/wall_clock.h"
#include "fwupdate/Unitfwupdate.h"
#include "fwupdate/upload_view.h"
#include "platform/timers.h"
#include "platform/userio.h"
#include "platform/win32/win_files.h"
#include "platform/win32/win_timers.h"
#include "serdev/win32/Serdev.h"

#include <windows.h>
#include <mmsystem.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace {

constexpr unsigned LineRate = 11520; // bytes per second: 115200 bit/s, 10 bits a byte
constexpr size_t PayloadSize = 64 * 1024;
constexpr DWORD HangGuardMs = 600000;

using qvx::bench::TLoader;
using qvx::bench::TSilentUserIo;

struct TStandIn {
    using AddSim = int (*)(const char*, const char*, const char*, char*, int);
    using Taken = int (*)(const char*, char*, int);
    using Stats = int (*)(const char*, unsigned*, unsigned*);
    HMODULE Module = LoadLibraryA("mvd2xx.dll");
    AddSim AddSimDevice = reinterpret_cast<AddSim>(Resolve("QvxStandIn_AddSimDevice"));
    Taken TakenBytes = reinterpret_cast<Taken>(Resolve("QvxStandIn_Taken"));
    Stats LineStats = reinterpret_cast<Stats>(Resolve("QvxStandIn_Stats"));

    void* Resolve(const char* name) const {
        return Module ? reinterpret_cast<void*>(GetProcAddress(Module, name)) : nullptr;
    }
    bool Ready() const { return AddSimDevice && TakenBytes && LineStats; }
};

struct TResult {
    bool Ok = false;
    double Seconds = 0;
    unsigned ToAdapter = 0;
    unsigned ToHost = 0;
    double MeanPollLateMs = 0; // how much more than 10 ms from one poll tick to the next
    unsigned Ticks = 0;
};

// The program's timers, watched: the poll stops its 10 ms timer at the start
// of every tick and starts it again at the end, so the time from one tick to
// the next, less 10 ms, is what the tick's own work and the platform add to
// the poll period.
class TWatchedTimers : public qvx::ITimerService {
public:
    qvx::TimerId Start(unsigned intervalMs, std::function<void()> onTick) override {
        if (intervalMs != PollMs)
            return Timers.Start(intervalMs, std::move(onTick));
        const double previous = InPollTick ? LastPollTick : -1;
        return Timers.Start(intervalMs, [this, previous, onTick = std::move(onTick)] {
            LastPollTick = qvx::bench::Seconds();
            if (previous >= 0) {
                LateMs += (LastPollTick - previous) * 1000 - PollMs;
                ++Rearmed;
            }
            ++Ticks;
            InPollTick = true;
            onTick();
            InPollTick = false;
        });
    }
    void Stop(qvx::TimerId id) override { Timers.Stop(id); }
    double MeanLateMs() const { return Rearmed ? LateMs / Rearmed : 0; }
    unsigned Ticks = 0;

private:
    static constexpr unsigned PollMs = 10;
    qvx::TWinTimers Timers;
    double LateMs = 0;
    unsigned Rearmed = 0;
    double LastPollTick = 0;
    bool InPollTick = false;
};

// The upload's view: only the status line is read, for the outcome.
class TStatusView : public qvx::IUploadView {
public:
    std::string Status;
    void ShowStatus(const std::string& text) override { Status = text; }
    void ClearStatus() override { Status.clear(); }
    void SetProgressRange(int max) override { Max = max; }
    void SetProgress(int) override {}
    int ProgressMax() const override { return Max; }

private:
    int Max = 100;
};

// Writes the benchmarks' image to path.
std::string WriteImage(const std::string& path) {
    const std::string image = qvx::bench::FirmwareImage(PayloadSize);
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(image.data(), 1, image.size(), file);
        std::fclose(file);
    }
    return path;
}

TResult Upload(TStandIn& standIn, int pageSize, const std::string& image) {
    TResult result;
    // Eight characters: the link opens a device by the first eight of its serial.
    const std::string serial = pageSize == 128 ? "QVUP0128" : "QVUP1024";
    // The boot loader's first '>' comes once the link is surely open: one
    // that came before would go with the purge of Open, and the upload would
    // wait half a second for the repeat, a cost of the set-up, not of the
    // upload.
    const std::string config =
        "identity.serial=" + serial +
        ";boot.start=1;boot.prompt.delay=60000;boot.pagesize=" + std::to_string(pageSize) +
        ";line.rate=" + std::to_string(LineRate);
    char error[256] = {};
    if (!standIn.AddSimDevice(serial.c_str(), "Benchmark boot loader", config.c_str(), error,
                              sizeof error)) {
        std::fprintf(stderr, "simulated adapter refused: %s\n", error);
        return result;
    }
    TLoader loader;
    TSilentUserIo userIo;
    qvx::TWinFiles files;
    TWatchedTimers timers;
    qvx::TSerDev link(userIo, loader, nullptr);
    link.SetPortName("USB:" + serial);
    if (!link.Open()) {
        std::fprintf(stderr, "cannot open USB:%s\n", serial.c_str());
        return result;
    }
    TStatusView view;
    qvx::TFwUpdater updater(userIo, files, timers, view);

    const DWORD start = timeGetTime();
    if (updater.StartUpload(link, image, true)) {
        MSG msg;
        while (updater.IsUploading() && timeGetTime() - start < HangGuardMs) {
            if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT) == WAIT_OBJECT_0)
                while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageA(&msg);
        }
    }
    result.Seconds = (timeGetTime() - start) / 1000.0;
    updater.CancelUpload();
    link.Close();
    result.Ok = view.Status == "Updating firmware : Ok";
    if (!result.Ok)
        std::fprintf(stderr, "upload in %d-byte pages ended with \"%s\"\n", pageSize,
                     view.Status.c_str());
    result.ToAdapter = static_cast<unsigned>(standIn.TakenBytes(serial.c_str(), nullptr, 0));
    standIn.LineStats(serial.c_str(), &result.ToHost, nullptr);
    result.MeanPollLateMs = timers.MeanLateMs();
    result.Ticks = timers.Ticks;
    return result;
}

} // namespace

int main() {
    TStandIn standIn;
    if (!standIn.Ready()) {
        std::fprintf(stderr, "mvd2xx.dll stand-in not found\n");
        return 1;
    }
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    const std::string image = WriteImage(std::string(folder) + "\\bench_upload.rfw");

    timeBeginPeriod(1);
    int failures = 0;
    for (int pageSize : {128, 1024}) {
        const TResult r = Upload(standIn, pageSize, image);
        const double wire = static_cast<double>(r.ToAdapter + r.ToHost) / LineRate;
        const double ratio = r.Ok && wire > 0 ? r.Seconds / wire : 0;
        if (!r.Ok)
            ++failures;
        std::printf("BENCH upload_seconds_%d %.3f -\n", pageSize, r.Seconds);
        std::printf("BENCH upload_wire_seconds_%d %.3f -\n", pageSize, wire);
        std::printf("BENCH upload_bytes_to_adapter_%d %u -\n", pageSize, r.ToAdapter);
        std::printf("BENCH upload_bytes_to_host_%d %u -\n", pageSize, r.ToHost);
        std::printf("BENCH upload_ratio_%d %.3f %s\n", pageSize, ratio,
                    pageSize == 128 ? "<=1.70" : "<=1.13");
        // What the 10 ms poll allows at best: every page costs whole 10 ms
        // ticks from the one that sent it to the one that sees its answer.
        const double pages = static_cast<double>(PayloadSize / static_cast<size_t>(pageSize));
        const double perPage = wire / pages;
        const double best = std::ceil(perPage / 0.010) * 0.010 / perPage;
        std::printf("BENCH upload_poll_floor_%d %.3f -\n", pageSize, best);
        std::printf("BENCH upload_poll_floor_whole_%d %.3f -\n", pageSize,
                    qvx::bench::UploadPollFloor(wire, pages));
        std::printf("BENCH upload_poll_late_ms_%d %.2f -\n", pageSize, r.MeanPollLateMs);
        std::printf("BENCH upload_poll_ticks_per_page_%d %.2f -\n", pageSize, r.Ticks / pages);
    }
    timeEndPeriod(1);
    DeleteFileA(image.c_str());
    return failures == 0 ? 0 : 1;
}
