#pragma once
// Window-message timers: ticks run on the GUI thread, one at a time.
#include <functional>

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

} // namespace qvx
