#include "platform/win32/win_timers.h"

#include <exception>

namespace qvx {

namespace {

const char TimerWindowClass[] = "QvxTimerWindow";

} // namespace

TWinTimers::~TWinTimers() {
    if (!Window)
        return;
    for (const auto& entry : Timers)
        KillTimer(Window, entry.first);
    DestroyWindow(Window);
}

bool TWinTimers::EnsureWindow() {
    if (Window)
        return true;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = TimerWindowClass;
    if (!RegisterClassA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return false;
    Window = CreateWindowExA(0, TimerWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             instance, nullptr);
    if (!Window)
        return false;
    SetWindowLongPtrA(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return true;
}

TimerId TWinTimers::Start(unsigned intervalMs, std::function<void()> onTick) {
    if (!EnsureWindow())
        return 0;
    // Ids are not reused soon: a WM_TIMER still queued for a stopped timer
    // must not reach a newer one.
    TimerId id = NextId++;
    if (NextId == 0)
        NextId = 1;
    if (!SetTimer(Window, id, intervalMs, nullptr))
        return 0;
    auto timer = std::make_shared<Timer>();
    timer->OnTick = std::move(onTick);
    Timers[id] = std::move(timer);
    return id;
}

void TWinTimers::Stop(TimerId id) {
    auto it = Timers.find(id);
    if (it == Timers.end())
        return;
    KillTimer(Window, id);
    // A running tick holds its own reference and finishes undisturbed.
    Timers.erase(it);
}

void TWinTimers::SetErrorHandler(std::function<void(const std::string&)> handler) {
    OnError = std::move(handler);
}

void TWinTimers::Tick(TimerId id) {
    auto it = Timers.find(id);
    if (it == Timers.end())
        return; // stopped; the message was already queued
    std::shared_ptr<Timer> timer = it->second;
    if (timer->Busy)
        return;
    timer->Busy = true;
    // Exceptions must not unwind through the system's message dispatch.
    try {
        timer->OnTick();
    } catch (const std::exception& e) {
        Report(e.what());
    } catch (...) {
        Report("Unknown error in a timer tick.");
    }
    timer->Busy = false;
}

void TWinTimers::Report(const std::string& text) {
    if (OnError)
        OnError(text);
    else
        MessageBoxA(nullptr, text.c_str(), "Error", MB_OK | MB_ICONSTOP);
}

LRESULT CALLBACK TWinTimers::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        auto* self = reinterpret_cast<TWinTimers*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self)
            self->Tick(static_cast<TimerId>(wParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace qvx
