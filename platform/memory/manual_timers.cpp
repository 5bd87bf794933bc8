#include "platform/memory/manual_timers.h"

namespace qvx {

TimerId TManualTimers::Start(unsigned intervalMs, std::function<void()> onTick) {
    Timer t;
    t.Interval = intervalMs == 0 ? 1 : intervalMs;
    t.Due = Clock + t.Interval;
    t.OnTick = std::move(onTick);
    TimerId id = NextId++;
    Timers.emplace(id, std::move(t));
    return id;
}

void TManualTimers::Stop(TimerId id) { Timers.erase(id); }

unsigned TManualTimers::IntervalOf(TimerId id) const {
    auto it = Timers.find(id);
    return it == Timers.end() ? 0 : it->second.Interval;
}

void TManualTimers::Advance(uint64_t ms) {
    const uint64_t end = Clock + ms;
    for (;;) {
        // The earliest due timer; ties go to the older timer.
        auto next = Timers.end();
        for (auto it = Timers.begin(); it != Timers.end(); ++it)
            if (it->second.Due <= end && (next == Timers.end() || it->second.Due < next->second.Due))
                next = it;
        if (next == Timers.end())
            break;
        Clock = next->second.Due;
        next->second.Due += next->second.Interval;
        // Copy: the tick may stop or restart its own timer.
        std::function<void()> tick = next->second.OnTick;
        tick();
    }
    Clock = end;
}

} // namespace qvx
