// Entry point of qvx.exe, the console companion of the window.
#include "platform/win32/win_libraries.h"
#include "platform/win32/win_platform.h"
#include "qvx/cli.h"
#include "qvx/terminal_text.h"
#include "serdev/portlists.h"
#include "serdev/win32/Serdev.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <io.h>
#include <cstdio>

namespace {

// The D2XX status of an open refused because another program has the device.
constexpr int32_t D2xxDeviceNotOpened = 3;

std::atomic<bool> g_interrupted{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    g_interrupted = true;
    return TRUE;
}

class TWinConsole : public qvx::IConsole {
public:
    // Text for a terminal is filtered here, whoever writes it; a file or a
    // pipe gets every byte.
    void Out(const std::string& text) override {
        Write(STD_OUTPUT_HANDLE, OutTerminal ? qvx::TerminalText(text) : text);
    }
    void Err(const std::string& text) override {
        Write(STD_ERROR_HANDLE, ErrTerminal ? qvx::TerminalText(text) : text);
    }
    bool ErrIsTerminal() override { return _isatty(_fileno(stderr)) != 0; }
    void RunUntil(const std::function<bool()>& done) override {
        // The timers' ticks are messages of this thread's hidden window.
        while (!done() && !Interrupted()) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
                if (done())
                    break;
            }
        }
    }
    bool Interrupted() override { return g_interrupted; }
    uint64_t NowMs() override {
        using namespace std::chrono;
        return static_cast<uint64_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }

private:
    // A console, or a character device the C runtime takes for a terminal.
    static bool IsTerminal(DWORD which, FILE* stream) {
        DWORD mode = 0;
        return GetConsoleMode(GetStdHandle(which), &mode) || _isatty(_fileno(stream)) != 0;
    }

    const bool OutTerminal = IsTerminal(STD_OUTPUT_HANDLE, stdout);
    const bool ErrTerminal = IsTerminal(STD_ERROR_HANDLE, stderr);

    static void Write(DWORD which, const std::string& text) {
        HANDLE h = GetStdHandle(which);
        size_t done = 0;
        while (done < text.size()) {
            DWORD written = 0;
            if (!WriteFile(h, text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                           nullptr) ||
                written == 0)
                return;
            done += written;
        }
    }
};

uint32_t SystemMajorVersion() {
    return static_cast<uint32_t>(LOBYTE(LOWORD(GetVersion())));
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

} // namespace

int main(int argc, char** argv) {
    // Before any library is loaded by name (the D2XX library).
    qvx::KeepCurrentFolderOutOfLibrarySearch();
    // Ctrl+C reaches this process even when it was started in a group of its own.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    TWinConsole console;
    qvx::TConsoleUserIo boxes(console);
    qvx::TWinPlatform platform;
    platform.Timers.SetErrorHandler(
        [&console](const std::string& message) { console.Err("qvx: " + message + "\n"); });
    qvx::TPlatform seams{platform.Registry, platform.Libraries, boxes,
                         platform.Files,    platform.Version,   platform.Timers};
    qvx::TSerDev link(boxes, platform.Libraries,
                      std::make_unique<qvx::TPortListsOnDemand>(
                          platform.Registry, platform.Libraries, boxes, SystemMajorVersion()));
    qvx::TCliHost host{seams, boxes, link, console, {}, true, {}};
    host.PortBusy = [&link] {
        const std::string port = link.PortName();
        const int32_t code = link.LastError;
        if (StartsWith(port, "USB"))
            return code == D2xxDeviceNotOpened;
        return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
    };
    std::vector<std::string> args(argv + 1, argv + argc);
    int status = qvx::RunCli(args, host);
    if (g_interrupted && status == qvx::qvxexit::Ok)
        status = qvx::qvxexit::Interrupted;
    return status;
}
