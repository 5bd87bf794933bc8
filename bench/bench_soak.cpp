// Soak: the real Configurator.exe, worked from outside through its window,
// runs 1000 searches and then 20 firmware uploads in a row against a
// simulated adapter of the stand-in D2XX library (unpaced line, an image of a
// few 128-byte pages). Its kernel handles, GDI and USER objects and private
// memory are read after a warm-up of searches and an upload and again at the end;
// what a run of sessions leaves behind shows as growth.
#include "bench/process_figures.h"
#include "tests/e2e/remote_app.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

using qvx::e2e::TRemoteApp;
using namespace qvx::bench;

constexpr const char* Serial = "QVSOAK01";
constexpr int Pages = 4;
constexpr int UpdateTab = 1;
constexpr DWORD StepGuardMs = 60000;
// Searches before the first reading, for the one-time allocations of the
// first sessions.
constexpr int WarmUpSearches = 50;
// Quiet time before each reading: the link's threads have ended, the
// window has repainted.
constexpr DWORD SettleMs = 1500;

// The header and `Pages` pages of 128 bytes; no slice repeats.
std::string FirmwareImage() {
    std::string image(80 + 128 * Pages, '\0');
    uint32_t x = 4711;
    for (char& c : image) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return image;
}

// Polls every 5 ms: the searches are short and there are many of them.
template <typename F> bool Until(F done) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > StepGuardMs)
            return false;
        Sleep(5);
    }
    return true;
}

bool Fail(const TRemoteApp& app, const std::string& what) {
    std::fprintf(stderr, "soak: %s\n", what.c_str());
    if (HWND box = app.MessageBoxWindow())
        std::fprintf(stderr, "soak: the program shows \"%s\"\n", TRemoteApp::BoxText(box).c_str());
    return false;
}

// Tells on stderr after which step the program's handle count changed, and
// in which object types: a count that moves once early and then stays is
// the system's lazy set-up, one that keeps moving is a leak.
class THandleWatch {
public:
    explicit THandleWatch(HANDLE process) : Process(process) { Read(Count, Types); }

    void After(const std::string& step) {
        DWORD count = 0;
        std::map<int, DWORD> types;
        if (!Read(count, types) || count == Count)
            return;
        std::string change;
        for (int type = 0; type < 256; ++type) {
            const long delta =
                static_cast<long>(Get(types, type)) - static_cast<long>(Get(Types, type));
            if (delta != 0)
                change += " type " + std::to_string(type) + (delta > 0 ? " +" : " ") +
                          std::to_string(delta);
        }
        std::fprintf(stderr, "soak: handles %lu -> %lu after %s:%s\n",
                     static_cast<unsigned long>(Count), static_cast<unsigned long>(count),
                     step.c_str(), change.c_str());
        Count = count;
        Types = types;
    }

private:
    bool Read(DWORD& count, std::map<int, DWORD>& types) const {
        return ListedHandles(GetProcessId(Process), count, &types);
    }
    static DWORD Get(const std::map<int, DWORD>& types, int type) {
        const auto it = types.find(type);
        return it == types.end() ? 0 : it->second;
    }

    HANDLE Process;
    DWORD Count = 0;
    std::map<int, DWORD> Types;
};

class TSoak {
public:
    explicit TSoak(TRemoteApp& app) : App(app) {}

    bool Prepare() {
        App.SelectTab(0);
        if (!App.PickPort(Serial))
            return Fail(App, "the adapter's port is not listed");
        SearchButton = App.Button("Search", App.SettingsPage());
        SerialEdit = App.EditBeside("Serial Number:");
        HWND page = App.UpdatePage();
        RunButton = App.Button("Run", page);
        StatusEdit = App.Below(App.EditBeside("File:", page), "Edit");
        if (!SearchButton || !SerialEdit || !RunButton || !StatusEdit)
            return Fail(App, "a control of the window is missing");
        return true;
    }

    // One click on "Search": done once the request went out and the button
    // is usable again (the window locks it from the session's first step to
    // its last).
    bool Search(const std::string& which) {
        if (App.ActiveTab() != 0)
            App.SelectTab(0);
        const uint64_t before = App.WireSize();
        TRemoteApp::Click(SearchButton);
        if (!Until([&] {
                return (App.WireSize() > before && IsWindowEnabled(SearchButton)) ||
                       App.MessageBoxWindow();
            }))
            return Fail(App, which + " did not end");
        if (TRemoteApp::Text(SerialEdit) != Serial)
            return Fail(App, which + " shows \"" + TRemoteApp::Text(SerialEdit) + "\"");
        return true;
    }

    // One click on "Run" of the Update page: done once every page went out
    // and the button reads "Run" again.
    bool Upload(int run, size_t imageSize) {
        if (App.ActiveTab() != UpdateTab)
            App.SelectTab(UpdateTab);
        if (!Until([&] { return IsWindowEnabled(RunButton) != FALSE; }))
            return Fail(App, "upload " + std::to_string(run) + ": \"Run\" stays disabled");
        const uint64_t before = App.WireSize();
        TRemoteApp::Click(RunButton);
        if (!Until([&] {
                return (App.WireSize() >= before + imageSize &&
                        TRemoteApp::Text(RunButton) == "Run") ||
                       App.MessageBoxWindow();
            }))
            return Fail(App, "upload " + std::to_string(run) + " did not end");
        if (TRemoteApp::Text(StatusEdit) != "Updating firmware : Ok")
            return Fail(App, "upload " + std::to_string(run) + " ended with \"" +
                                 TRemoteApp::Text(StatusEdit) + "\"");
        return true;
    }

private:
    TRemoteApp& App;
    HWND SearchButton = nullptr;
    HWND SerialEdit = nullptr;
    HWND RunButton = nullptr;
    HWND StatusEdit = nullptr;
};

long long Growth(uint64_t end, uint64_t start) {
    return static_cast<long long>(end) - static_cast<long long>(start);
}

} // namespace

int main() {
    // QVX_SOAK_SEARCHES and QVX_SOAK_UPLOADS shorten the run while a change is
    // being tried out.
    const int Searches = static_cast<int>(PositiveFromEnvironment("QVX_SOAK_SEARCHES", 1000));
    const int Uploads = static_cast<int>(PositiveFromEnvironment("QVX_SOAK_UPLOADS", 20));
    qvx::e2e::DeleteSettings();
    TRemoteApp app("soak", std::string("identity.serial=") + Serial + "\nboot.pagesize=128\n");
    const std::string image = FirmwareImage();
    const std::string file = app.Folder() + "soak.rfw";
    if (!qvx::e2e::WriteFileBytes(file, image) || !app.Start(file)) {
        std::fprintf(stderr, "soak: the program did not start\n");
        return 1;
    }
    HANDLE process = OpenProcessOf(app.Main());
    TSoak soak(app);
    if (!process || !soak.Prepare())
        return 1;
    const double begin = Seconds();
    // Warm-up: the first searches and upload make the system's and Wine's
    // one-time allocations (classes, fonts, the D2XX library, thread pools).
    // Among them, the threading runtime gives a lock its wait event the first
    // time two threads meet on it and keeps it for the lock's life; which
    // search that is depends on timing.
    for (int run = 1; run <= WarmUpSearches; ++run)
        if (!soak.Search("warm-up search " + std::to_string(run)))
            return 1;
    if (!soak.Upload(0, image.size()))
        return 1;
    Sleep(SettleMs);
    const TProcessFigures start = ReadFigures(process);
    if (!start.Ok) {
        std::fprintf(stderr, "soak: cannot read the program's figures (%lu)\n", GetLastError());
        return 1;
    }
    PrintFigures("after warm-up", start);
    if (!start.Sources.empty())
        std::fprintf(stderr, "soak: under this system%s\n", start.Sources.c_str());

    // The readings after the first 250 searches, for the growth of the
    // later part alone (what a one-time allocation does not reach).
    constexpr int LateFrom = 250;
    TProcessFigures late = start;
    THandleWatch watch(process);
    std::vector<double> searchSeconds;
    for (int run = 1; run <= Searches; ++run) {
        const double searchStart = Seconds();
        if (!soak.Search("search " + std::to_string(run)))
            return 1;
        searchSeconds.push_back(Seconds() - searchStart);
        watch.After("search " + std::to_string(run));
        if (run % 250 == 0 || run == Searches) {
            Sleep(SettleMs);
            const TProcessFigures now = ReadFigures(process);
            PrintFigures(("after " + std::to_string(run) + " searches").c_str(), now);
            if (run == LateFrom)
                late = now;
        }
    }
    for (int run = 1; run <= Uploads; ++run) {
        if (!soak.Upload(run, image.size()))
            return 1;
        watch.After("upload " + std::to_string(run));
        if (run % 10 == 0 || run == Uploads) {
            Sleep(SettleMs);
            PrintFigures(("after " + std::to_string(run) + " uploads").c_str(),
                         ReadFigures(process));
        }
    }
    // The last reading of the loop above is after the last upload; read once
    // more after another quiet spell, for the end figures.
    Sleep(SettleMs);
    const TProcessFigures end = ReadFigures(process);
    PrintFigures("at the end", end);
    for (const auto& [type, count] : end.HandleTypes) {
        const auto before = start.HandleTypes.find(type);
        const DWORD was = before == start.HandleTypes.end() ? 0 : before->second;
        if (count != was)
            std::fprintf(stderr, "soak: handles of object type %d: %lu -> %lu\n", type,
                         static_cast<unsigned long>(was), static_cast<unsigned long>(count));
    }
    const double seconds = Seconds() - begin;
    CloseHandle(process);
    const bool closed = app.Close();
    qvx::e2e::DeleteSettings();

    std::sort(searchSeconds.begin(), searchSeconds.end());
    std::printf("BENCH soak_seconds %.1f -\n", seconds);
    std::printf("BENCH soak_search_median_ms %.1f -\n",
                searchSeconds[searchSeconds.size() / 2] * 1000);
    std::printf("BENCH soak_handles_start %lu -\n", static_cast<unsigned long>(start.Handles));
    std::printf("BENCH soak_handles_end %lu -\n", static_cast<unsigned long>(end.Handles));
    std::printf("BENCH soak_gdi_user_start %lu -\n",
                static_cast<unsigned long>(start.GdiObjects + start.UserObjects));
    std::printf("BENCH soak_gdi_user_end %lu -\n",
                static_cast<unsigned long>(end.GdiObjects + end.UserObjects));
    std::printf("BENCH soak_memory_start_kib %.0f -\n", start.PrivateBytes / 1024.0);
    std::printf("BENCH soak_memory_end_kib %.0f -\n", end.PrivateBytes / 1024.0);
    if (Searches > LateFrom) {
        std::printf("BENCH soak_late_handle_growth %lld -\n", Growth(end.Handles, late.Handles));
        std::printf("BENCH soak_late_gdi_user_growth %lld -\n",
                    Growth(end.GdiObjects + end.UserObjects, late.GdiObjects + late.UserObjects));
        std::printf("BENCH soak_late_memory_growth_kib %.0f -\n",
                    static_cast<double>(Growth(end.PrivateBytes, late.PrivateBytes)) / 1024.0);
    }
    std::printf("BENCH soak_handle_growth %lld 0\n", Growth(end.Handles, start.Handles));
    std::printf("BENCH soak_gdi_user_growth %lld 0\n",
                Growth(end.GdiObjects + end.UserObjects, start.GdiObjects + start.UserObjects));
    std::printf("BENCH soak_memory_growth_kib %.0f 256\n",
                static_cast<double>(Growth(end.PrivateBytes, start.PrivateBytes)) / 1024.0);
    if (!closed)
        std::fprintf(stderr, "soak: the program did not close by itself\n");
    return closed ? 0 : 1;
}
