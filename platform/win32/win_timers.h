#pragma once
// Window-message timers: a hidden message-only window of this object's own
// receives WM_TIMER on the thread that started the first timer (the GUI
// thread), so every tick runs there, from the thread's message loop.
//
// A tick never re-enters itself: when it runs a modal loop (a message box),
// further ticks of the same timer are dropped until it returns. Ticks of
// other timers still run.
#include "platform/timers.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>

namespace qvx {

class TWinTimers : public ITimerService {
public:
    TWinTimers() = default;
    // Stops every timer; call it on the GUI thread, outside its own ticks.
    ~TWinTimers() override;
    TWinTimers(const TWinTimers&) = delete;
    TWinTimers& operator=(const TWinTimers&) = delete;

    // 0 when the system refuses the timer (or its window).
    TimerId Start(unsigned intervalMs, std::function<void()> onTick) override;
    void Stop(TimerId id) override;

    // Receives what an exception escaping a tick had to say; the timer keeps
    // running. Without a handler the text is shown in a message box.
    void SetErrorHandler(std::function<void(const std::string&)> handler);

private:
    struct Timer {
        std::function<void()> OnTick;
        bool Busy = false;
    };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool EnsureWindow();
    void Tick(TimerId id);
    void Report(const std::string& text);

    HWND Window = nullptr;
    std::map<TimerId, std::shared_ptr<Timer>> Timers;
    TimerId NextId = 1;
    std::function<void(const std::string&)> OnError;
};

} // namespace qvx
