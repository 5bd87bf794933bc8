#pragma once
// Timers on a virtual clock for the native tests: Advance(ms) fires every tick
// that falls due, in time order, one at a time, on the calling thread.
#include "platform/timers.h"

#include <cstdint>
#include <map>

namespace qvx {

class TManualTimers : public ITimerService {
public:
    TimerId Start(unsigned intervalMs, std::function<void()> onTick) override;
    void Stop(TimerId id) override;

    void Advance(uint64_t ms);
    uint64_t Now() const { return Clock; }
    bool IsRunning(TimerId id) const { return Timers.count(id) != 0; }
    unsigned IntervalOf(TimerId id) const;
    size_t RunningCount() const { return Timers.size(); }

private:
    struct Timer {
        unsigned Interval = 0;
        uint64_t Due = 0;
        std::function<void()> OnTick;
    };
    std::map<TimerId, Timer> Timers;
    TimerId NextId = 1;
    uint64_t Clock = 0;
};

} // namespace qvx
