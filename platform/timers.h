#pragma once
// Window-message timers: ticks run on the GUI thread, one at a time.
#include <functional>
#include <string>
#include <utility>

namespace qvx {

using TimerId = unsigned;

class ITimerService {
public:
    virtual ~ITimerService() = default;
    // Starts a periodic timer; ids are never 0. Started from inside a tick,
    // it counts from the time that tick was due, so a tick that stops and
    // re-arms its own timer keeps the period from tick to tick.
    virtual TimerId Start(unsigned intervalMs, std::function<void()> onTick) = 0;
    // Stopping an unknown or stopped id does nothing. Safe from inside the
    // timer's own tick: that tick finishes, no further tick comes.
    virtual void Stop(TimerId id) = 0;
};

// A window-message timer over a timer service: the interval and the enabled
// state decide whether it runs; its ticks call OnTimer.
class TTimer {
public:
    TTimer(std::string name, ITimerService& service)
        : TimerName(std::move(name)), Service(service) {}
    ~TTimer();
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    const std::string& Name() const { return TimerName; }
    unsigned Interval() const { return IntervalMs; }
    // An interval of 0 stops the timer, as does Enabled = false.
    void SetInterval(unsigned ms);
    bool Enabled() const { return IsEnabled; }
    void SetEnabled(bool enabled);
    bool Running() const { return Id != 0; }
    std::function<void()> OnTimer;

private:
    void Update();
    std::string TimerName;
    ITimerService& Service;
    unsigned IntervalMs = 1000;
    bool IsEnabled = true;
    TimerId Id = 0;
};

} // namespace qvx
