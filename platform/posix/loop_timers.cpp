#include "platform/posix/loop_timers.h"

#include <algorithm>
#include <thread>

namespace qvx {

TLoopTimers::TLoopTimers()
    : TLoopTimers(TClockSource{[] { return TClock::now(); },
                               [](TTime t) { std::this_thread::sleep_until(t); }}) {}

TLoopTimers::TLoopTimers(TClockSource clock) : Clock(std::move(clock)) {}

TimerId TLoopTimers::Start(unsigned intervalMs, std::function<void()> onTick) {
    Timer t;
    t.Interval = std::chrono::milliseconds(intervalMs == 0 ? 1 : intervalMs);
    const TTime now = Clock.Now();
    const TTime since = InTick ? std::max(TickDue, now - t.Interval / 4) : now;
    t.Due = since + t.Interval;
    t.OnTick = std::make_shared<std::function<void()>>(std::move(onTick));
    const TimerId id = NextId++;
    if (NextId == 0)
        NextId = 1;
    Timers.emplace(id, std::move(t));
    return id;
}

void TLoopTimers::Stop(TimerId id) {
    Timers.erase(id);
}

void TLoopTimers::RunUntil(const std::function<bool()>& done) {
    while (!done()) {
        const TTime now = Clock.Now();
        // The earliest due timer; ties go to the older timer.
        auto next = Timers.end();
        for (auto it = Timers.begin(); it != Timers.end(); ++it)
            if (next == Timers.end() || it->second.Due < next->second.Due)
                next = it;
        const TTime poll = now + std::chrono::milliseconds(PollMs);
        if (next == Timers.end() || next->second.Due > now) {
            Clock.SleepUntil(next == Timers.end() ? poll : std::min(next->second.Due, poll));
            continue;
        }
        Timer& timer = next->second;
        const TTime due = timer.Due;
        timer.Due = std::max(due + timer.Interval, now);
        // Held here: the tick may stop or restart its own timer.
        std::shared_ptr<std::function<void()>> tick = timer.OnTick;
        InTick = true;
        TickDue = due;
        struct TEndTick {
            bool& Flag;
            ~TEndTick() { Flag = false; }
        } endTick{InTick};
        (*tick)();
    }
}

} // namespace qvx
