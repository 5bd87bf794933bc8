// A long identity reply: the real Configurator.exe, worked from outside
// through its window, searches a simulated adapter of the stand-in D2XX
// library whose identity lists many short mode lines, paced at 115200 bit/s
// (11520 bytes/s). The figure is the time from the "Search" click to the
// unlocked window (its controls enabled and its thread answering again, that
// is after the link's close and the list's sorting) over the time the
// exchange needs on the wire: the reply and the command at the line's pace,
// plus the fixed costs of every search (the 100 ms pause of Close and the
// five 10 ms ticks of the states around the reply). Once with 900 modes (a
// reply near the 65,536-byte limit), once with 30.
#include "bench/process_figures.h"
#include "tests/e2e/remote_app.h"

#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using qvx::e2e::TRemoteApp;
using namespace qvx::bench;

constexpr const char* Serial = "QVBIGID1";
constexpr double LineRate = 11520.0; // bytes per second
constexpr size_t ReplyLimit = 65536;
// Every mode line has this length: 900 of them and the other lines of the
// identity stay just under the reply limit.
constexpr size_t ModeLineLength = 68;
// A search of the unchanged window took minutes with 900 modes: the guard
// only catches a hang.
constexpr DWORD SearchGuardMs = 15 * 60 * 1000;

// Mode number i (from 1) in three characters of 0-9 and A-Z.
std::string ModeNumber(int i) {
    const char* digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string number(3, '0');
    for (int pos = 2; pos >= 0; --pos, i /= 36)
        number[static_cast<size_t>(pos)] = digits[i % 36];
    return number;
}

std::string Config(int modes) {
    std::string config = std::string("identity.serial=") + Serial +
                         "\nline.rate=11520\nline.chunk=64\nmode.running=" + ModeNumber(modes / 2) +
                         "\n";
    for (int i = 1; i <= modes; ++i) {
        std::string line = ModeNumber(i) + " - Mode " + ModeNumber(i) + " ";
        for (size_t c = 0; line.size() < ModeLineLength; ++c)
            line += static_cast<char>('a' + (i + c) % 26);
        config += "mode=" + line + "\n";
    }
    return config;
}

struct TResult {
    bool Ok = false;
    double Ratio = 0;
    double Seconds = 0;
    double DrawnSeconds = 0;
    double Expected = 0;
    size_t ReplyBytes = 0;
};

bool Fail(const TRemoteApp& app, const std::string& what) {
    std::fprintf(stderr, "identity: %s\n", what.c_str());
    if (HWND box = app.MessageBoxWindow())
        std::fprintf(stderr, "identity: the program shows \"%s\"\n",
                     TRemoteApp::BoxText(box).c_str());
    return false;
}

// Polls `done` every 2 ms; false on a message box or after the guard.
template <typename F> bool Until(const TRemoteApp& app, F done) {
    const DWORD start = GetTickCount();
    for (int polls = 1; !done(); ++polls) {
        if ((polls % 50 == 0 && app.MessageBoxWindow()) || GetTickCount() - start > SearchGuardMs)
            return false;
        Sleep(2);
    }
    return true;
}

// `runs` searches of a fresh program (a new user: no settings yet) with
// `modes` modes; the median run.
bool Measure(const char* name, int modes, int runs, TResult& result) {
    qvx::e2e::DeleteSettings();
    TRemoteApp app(name, Config(modes));
    if (!app.Start())
        return Fail(app, "the program did not start");
    app.SelectTab(0);
    if (!app.PickPort(Serial))
        return Fail(app, "the adapter's port is not listed");
    HWND search = app.Button("Search", app.SettingsPage());
    HWND serial = app.EditBeside("Serial Number:");
    HWND list = app.Largest("SysListView32", app.SettingsPage());
    HWND log = app.Largest("Edit", app.SettingsPage());
    if (!search || !serial || !list || !log)
        return Fail(app, "a control of the window is missing");
    std::vector<double> seconds, drawn;
    for (int run = 1; run <= runs; ++run) {
        const uint64_t before = app.WireSize();
        const double start = Seconds();
        TRemoteApp::Click(search);
        // The window locks on the session's first tick and unlocks at its end.
        // The program shares the system's services with this poll: it looks
        // at the button alone, every 2 ms, and for a message box now and then.
        if (!Until(app, [&] { return !IsWindowEnabled(search); }) ||
            !Until(app, [&] { return IsWindowEnabled(search) != FALSE; }))
            return Fail(app, "the search did not end");
        // The controls are enabled before the link is closed and the list
        // sorted: the window is unlocked once its thread answers again.
        DWORD_PTR answer = 0;
        if (!SendMessageTimeoutA(app.Main(), WM_NULL, 0, 0, SMTO_NORMAL, SearchGuardMs, &answer))
            return Fail(app, "the window does not answer after the search");
        seconds.push_back(Seconds() - start);
        // What the window has left to draw, drawn now (the program's thread
        // paints while this waits): the time until the result is on screen.
        RedrawWindow(app.Main(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        drawn.push_back(Seconds() - start);
        if (app.WireSize() <= before)
            return Fail(app, "the search did not send the identify command");
        std::fprintf(stderr, "identity: %d modes, search %d: %.3f s, drawn at %.3f s\n", modes, run,
                     seconds.back(), drawn.back());
        if (TRemoteApp::Text(serial) != Serial)
            return Fail(app, "the search shows \"" + TRemoteApp::Text(serial) + "\"");
        if (app.ListCount(list) != modes)
            return Fail(app, "the list shows " + std::to_string(app.ListCount(list)) + " rows");
    }
    // Every mode line is listed and stays in the log, so the log holds the
    // whole body: its lines with CR LF, plus the start marker's CR LF and
    // the end marker.
    const std::string body = TRemoteApp::Text(log);
    result.ReplyBytes = 2 + body.size() + 2 + 2;
    if (result.ReplyBytes >= ReplyLimit)
        return Fail(app, "the reply of " + std::to_string(result.ReplyBytes) +
                             " bytes passes the limit");
    app.Close();
    qvx::e2e::DeleteSettings();
    std::sort(seconds.begin(), seconds.end());
    std::sort(drawn.begin(), drawn.end());
    result.Seconds = seconds[seconds.size() / 2];
    result.DrawnSeconds = drawn[drawn.size() / 2];
    result.Expected = (result.ReplyBytes + 12) / LineRate + 0.100 + 5 * 0.010;
    result.Ratio = result.Seconds / result.Expected;
    result.Ok = true;
    return true;
}

void Print(const char* figure, const TResult& r) {
    std::printf("BENCH %s_seconds %.3f -\n", figure, r.Seconds);
    std::printf("BENCH %s_drawn_seconds %.3f -\n", figure, r.DrawnSeconds);
    std::printf("BENCH %s_wire_seconds %.3f -\n", figure, r.Expected);
    std::printf("BENCH %s_reply_bytes %u -\n", figure, static_cast<unsigned>(r.ReplyBytes));
    std::printf("BENCH %s_ratio %.3f <=1.15\n", figure, r.Ratio);
}

} // namespace

int main() {
    // QVX_IDENTITY_MODES and QVX_IDENTITY_RUNS change the long reply's mode
    // count and the searches of each size (the median counts).
    const int bigModes = static_cast<int>(PositiveFromEnvironment("QVX_IDENTITY_MODES", 900));
    const int runs = static_cast<int>(PositiveFromEnvironment("QVX_IDENTITY_RUNS", 3));
    timeBeginPeriod(1);
    TResult big, small;
    const bool ok =
        Measure("identity_big", bigModes, runs, big) && Measure("identity_small", 30, runs, small);
    timeEndPeriod(1);
    if (!ok)
        return 1;
    Print("search_big", big);
    Print("search_small", small);
    return 0;
}
