#pragma once
// Timers for a program without a window: RunUntil runs the ticks on the
// calling thread, one at a time, in the order of their due times, sleeping
// until the next one is due. Time is std::chrono::steady_clock unless a test
// gives a clock of its own.
//
// A periodic timer's next tick is due one interval after the last one was
// due; a tick that comes so late that this has passed too is followed by the
// next one at once, and the due times that passed meanwhile are let go. A
// timer started from inside a tick counts its interval from the time that
// tick was due, but from no more than a quarter of the new interval back, so
// a tick that stops and re-arms its own timer keeps the period from tick to
// tick, and ticks never come closer than three quarters of it.
#include "platform/timers.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>

namespace qvx {

class TLoopTimers : public ITimerService {
public:
    using TClock = std::chrono::steady_clock;
    using TTime = TClock::time_point;
    // The clock's two operations; the default ones are the steady clock and
    // std::this_thread::sleep_until.
    struct TClockSource {
        std::function<TTime()> Now;
        std::function<void(TTime)> SleepUntil;
    };

    TLoopTimers();
    explicit TLoopTimers(TClockSource clock);

    TimerId Start(unsigned intervalMs, std::function<void()> onTick) override;
    void Stop(TimerId id) override;

    // Runs due ticks until done() is true: it is asked before the first
    // sleep, after every tick and at least every PollMs when nothing is due.
    void RunUntil(const std::function<bool()>& done);
    size_t RunningCount() const { return Timers.size(); }

    static constexpr unsigned PollMs = 20;

private:
    struct Timer {
        TClock::duration Interval{};
        TTime Due{};
        std::shared_ptr<std::function<void()>> OnTick;
    };

    TClockSource Clock;
    std::map<TimerId, Timer> Timers;
    TimerId NextId = 1;
    // Due time of the tick that runs now; set only inside a tick.
    bool InTick = false;
    TTime TickDue{};
};

} // namespace qvx
