#pragma once
// A list-thread clock for tests: no sleep ever ends by itself. Each sleep is
// numbered from 1 in the order the thread begins it; the test waits until the
// thread has begun sleep n (so it knows the cycle before it is over and the
// thread is idle) and then releases it, as if its time had passed. A sleep
// still ends at once when its wake-up condition holds (resume, terminate).
// Use one clock per thread.
#include "serdev/listclock.h"

#include <vector>

namespace qvx {

class TSteppedListClock : public IListClock {
public:
    bool SleepFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, uint32_t ms,
                  const std::function<bool()>& woken) override;

    // Blocks until sleep n has begun; returns its length in ms (Forever for a
    // paused thread). Returns 0 (a length no thread asks for) when the sleep
    // has not begun within a generous guard time, so that a hung thread fails
    // the test instead of hanging it.
    uint32_t WaitSleep(size_t n);
    // Ends timed sleep n as if its time had passed; a release that comes
    // before the sleep has begun makes it end at once. Does nothing to a
    // Forever sleep.
    void Release(size_t n);
    size_t SleepCount() const;
    std::vector<uint32_t> Sleeps() const;

private:
    struct TSleep {
        uint32_t Ms = 0;
        std::mutex* Owner = nullptr;
        std::condition_variable* Wake = nullptr;
    };
    bool Released(size_t n) const;

    mutable std::mutex Lock;
    std::condition_variable Changed;
    std::vector<TSleep> Log;
    std::vector<size_t> ReleasedSleeps;
};

} // namespace qvx
