#pragma once
// Window-message timers: a hidden message-only window of this object's own
// receives the ticks on the thread that started the first timer (the GUI
// thread), so every tick runs there, from the thread's message loop.
//
// The due times are kept by a clock thread of this object's own, on the
// performance counter: it sleeps on a waitable timer (a high-resolution one
// where the system has it) until shortly before the earliest due time,
// yields the processor for the rest and then posts the tick to the window.
// Window-message timers of the system come up to a millisecond or two late
// under load; this keeps the ticks within a fraction of one.
//
// At most one tick message per timer is ever queued: while one waits, the
// clock thread lets further due times of that timer pass. A stopped timer
// never ticks again, even with its message already queued.
//
// A tick never re-enters itself: when it runs a modal loop (a message box),
// further ticks of the same timer are dropped until it returns. Ticks of
// other timers still run.
//
// A timer started from inside a tick counts its interval from the time that
// tick was due, not from the call, but from no more than a quarter of the new
// interval back; so a tick that stops its timer and re-arms it keeps the
// period from tick to tick whatever its own work and the message delivery
// took, and ticks never come closer than three quarters of it.
#include "platform/timers.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace qvx {

class TWinTimers : public ITimerService {
public:
    TWinTimers();
    // Stops every timer and the clock thread; call it on the GUI thread,
    // outside its own ticks.
    ~TWinTimers() override;
    TWinTimers(const TWinTimers&) = delete;
    TWinTimers& operator=(const TWinTimers&) = delete;

    // 0 when the system refuses the timer (its window or its clock thread).
    TimerId Start(unsigned intervalMs, std::function<void()> onTick) override;
    void Stop(TimerId id) override;

    // Receives what an exception escaping a tick had to say; the timer keeps
    // running. Without a handler the text is shown in a message box.
    void SetErrorHandler(std::function<void(const std::string&)> handler);

private:
    // GUI thread only.
    struct Timer {
        std::function<void()> OnTick;
        bool Busy = false;
    };
    // Shared with the clock thread, under Lock. Times in microseconds of
    // the performance counter.
    struct Schedule {
        int64_t Interval = 0;
        int64_t Due = 0;
        int64_t PostedDue = 0; // the due time of the queued tick
        bool Posted = false;   // a tick message is queued
    };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI ClockThread(LPVOID self);
    bool EnsureWindow();
    bool EnsureClock();
    void ClockLoop();
    bool WaitUntil(int64_t due);
    void PostDue(int64_t now);
    void Tick(TimerId id);
    void Report(const std::string& text);

    HWND Window = nullptr;
    std::map<TimerId, std::shared_ptr<Timer>> Timers;
    TimerId NextId = 1;
    std::function<void(const std::string&)> OnError;
    // Due time of the tick that runs now; -1 outside ticks.
    int64_t TickDue = -1;

    CRITICAL_SECTION Lock;
    std::map<TimerId, Schedule> Schedules;
    bool Quit = false;
    HANDLE Clock = nullptr;     // the clock thread
    HANDLE Wake = nullptr;      // auto-reset: the schedules changed
    HANDLE WaitTimer = nullptr; // the clock thread's waitable timer
    // How much earlier than the due time the clock thread ends its sleep,
    // from what its waitable timer was seen to add (clock thread only).
    int64_t LeadUs = 1000;
};

} // namespace qvx
