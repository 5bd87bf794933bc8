#include "platform/win32/win_timers.h"

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

namespace qvx {

namespace {

const char TimerWindowClass[] = "QvxTimerWindow";
const UINT TickMessage = WM_APP + 1; // wParam: the timer's id
// The flag of CreateWaitableTimerExW that asks for a high-resolution timer;
// systems without it refuse the call, and the ordinary timer is taken.
const DWORD WaitableTimerHighResolution = 0x00000002;
// Bounds of the clock thread's lead before a due time, in microseconds.
const int64_t MinLeadUs = 50;
const int64_t MaxLeadUs = 3000;

int64_t NowUs() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<int64_t>(f.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    const int64_t c = counter.QuadPart;
    return c / frequency * 1000000 + c % frequency * 1000000 / frequency;
}

} // namespace

TWinTimers::TWinTimers() {
    InitializeCriticalSection(&Lock);
}

TWinTimers::~TWinTimers() {
    if (Clock) {
        EnterCriticalSection(&Lock);
        Quit = true;
        LeaveCriticalSection(&Lock);
        SetEvent(Wake);
        WaitForSingleObject(Clock, INFINITE);
        CloseHandle(Clock);
    }
    if (WaitTimer)
        CloseHandle(WaitTimer);
    if (Wake)
        CloseHandle(Wake);
    // Tick messages still queued go with the window.
    if (Window)
        DestroyWindow(Window);
    DeleteCriticalSection(&Lock);
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

bool TWinTimers::EnsureClock() {
    if (Clock)
        return true;
    if (!Wake)
        Wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!Wake)
        return false;
    if (!WaitTimer)
        WaitTimer =
            CreateWaitableTimerExW(nullptr, nullptr, WaitableTimerHighResolution, TIMER_ALL_ACCESS);
    if (!WaitTimer)
        WaitTimer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    Clock = CreateThread(nullptr, 0, &ClockThread, this, 0, nullptr);
    if (!Clock)
        return false;
    // It only sleeps and posts; waking it first keeps the ticks on time
    // when the processors are busy.
    SetThreadPriority(Clock, THREAD_PRIORITY_HIGHEST);
    return true;
}

TimerId TWinTimers::Start(unsigned intervalMs, std::function<void()> onTick) {
    if (!EnsureWindow() || !EnsureClock())
        return 0;
    // Ids are not reused soon: a tick still queued for a stopped timer must
    // not reach a newer one.
    TimerId id = NextId++;
    if (NextId == 0)
        NextId = 1;
    Schedule schedule;
    schedule.Interval = static_cast<int64_t>(std::max(intervalMs, 1u)) * 1000;
    const int64_t now = NowUs();
    const int64_t since = TickDue >= 0 ? std::max(TickDue, now - schedule.Interval / 4) : now;
    schedule.Due = since + schedule.Interval;
    auto timer = std::make_shared<Timer>();
    timer->OnTick = std::move(onTick);
    Timers[id] = std::move(timer);
    EnterCriticalSection(&Lock);
    Schedules[id] = schedule;
    LeaveCriticalSection(&Lock);
    SetEvent(Wake);
    return id;
}

void TWinTimers::Stop(TimerId id) {
    auto it = Timers.find(id);
    if (it == Timers.end())
        return;
    // The clock thread may still be asleep for this one; it then wakes to
    // find nothing due.
    EnterCriticalSection(&Lock);
    Schedules.erase(id);
    LeaveCriticalSection(&Lock);
    // A running tick holds its own reference and finishes undisturbed.
    Timers.erase(it);
}

void TWinTimers::SetErrorHandler(std::function<void(const std::string&)> handler) {
    OnError = std::move(handler);
}

DWORD WINAPI TWinTimers::ClockThread(LPVOID self) {
    static_cast<TWinTimers*>(self)->ClockLoop();
    return 0;
}

void TWinTimers::ClockLoop() {
    for (;;) {
        bool any = false;
        int64_t due = 0;
        EnterCriticalSection(&Lock);
        const bool quit = Quit;
        for (const auto& entry : Schedules) {
            if (!any || entry.second.Due < due)
                due = entry.second.Due;
            any = true;
        }
        LeaveCriticalSection(&Lock);
        if (quit)
            return;
        if (!any)
            WaitForSingleObject(Wake, INFINITE);
        else if (WaitUntil(due))
            PostDue(NowUs());
    }
}

// Sleeps until the due time: on the waitable timer until LeadUs before it,
// then yielding the processor for the rest. False when the schedules changed
// on the way.
bool TWinTimers::WaitUntil(int64_t due) {
    const int64_t now = NowUs();
    const int64_t wakeAt = due - LeadUs;
    if (wakeAt > now) {
        LARGE_INTEGER relative;
        relative.QuadPart = -(wakeAt - now) * 10; // 100 ns units
        if (WaitTimer && SetWaitableTimer(WaitTimer, &relative, 0, nullptr, nullptr, FALSE)) {
            HANDLE handles[2] = {Wake, WaitTimer};
            if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
                CancelWaitableTimer(WaitTimer);
                return false;
            }
            // Follow how late the timer wakes us: quickly up, slowly down, so
            // that the lead covers nearly every wake-up.
            const int64_t late = NowUs() - wakeAt;
            if (late > LeadUs)
                LeadUs += (late - LeadUs) / 4 + 1;
            else
                LeadUs -= (LeadUs - late) / 64;
            LeadUs = std::min(std::max(LeadUs, MinLeadUs), MaxLeadUs);
        } else if (WaitForSingleObject(Wake, static_cast<DWORD>((wakeAt - now) / 1000)) ==
                   WAIT_OBJECT_0) {
            return false;
        }
    }
    while (NowUs() < due)
        SwitchToThread();
    return true;
}

// Posts the tick of every timer that is due, in the order of the due times,
// unless one is still queued for it, and moves each on by whole intervals.
void TWinTimers::PostDue(int64_t now) {
    EnterCriticalSection(&Lock);
    std::vector<std::pair<int64_t, TimerId>> due;
    for (const auto& entry : Schedules)
        if (entry.second.Due <= now)
            due.emplace_back(entry.second.Due, entry.first);
    std::sort(due.begin(), due.end());
    for (const auto& d : due) {
        Schedule& s = Schedules[d.second];
        if (!s.Posted && PostMessageA(Window, TickMessage, d.second, 0)) {
            s.Posted = true;
            s.PostedDue = s.Due;
        }
        s.Due += ((now - s.Due) / s.Interval + 1) * s.Interval;
    }
    LeaveCriticalSection(&Lock);
}

void TWinTimers::Tick(TimerId id) {
    int64_t due = -1;
    EnterCriticalSection(&Lock);
    auto scheduled = Schedules.find(id);
    if (scheduled != Schedules.end()) {
        scheduled->second.Posted = false;
        due = scheduled->second.PostedDue;
    }
    LeaveCriticalSection(&Lock);
    auto it = Timers.find(id);
    if (it == Timers.end())
        return; // stopped; the message was already queued
    std::shared_ptr<Timer> timer = it->second;
    if (timer->Busy)
        return;
    timer->Busy = true;
    const int64_t outerDue = TickDue;
    TickDue = due;
    // Exceptions must not unwind through the system's message dispatch.
    try {
        timer->OnTick();
    } catch (const std::exception& e) {
        Report(e.what());
    } catch (...) {
        Report("Unknown error in a timer tick.");
    }
    TickDue = outerDue;
    timer->Busy = false;
}

void TWinTimers::Report(const std::string& text) {
    if (OnError)
        OnError(text);
    else
        MessageBoxA(nullptr, text.c_str(), "Error", MB_OK | MB_ICONSTOP);
}

LRESULT CALLBACK TWinTimers::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == TickMessage) {
        auto* self = reinterpret_cast<TWinTimers*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self)
            self->Tick(static_cast<TimerId>(wParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace qvx
