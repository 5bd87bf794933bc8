#pragma once
// Waits of the port-list threads. Every wait happens on the waiting thread's
// own condition variable with its state lock held, so that a wake-up that
// comes between the thread's last look at its state and the wait itself is
// never lost. The system clock is the default; tests step the threads through
// their sleeps with a clock of their own.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace qvx {

class IListClock {
public:
    static constexpr uint32_t Forever = 0xFFFFFFFF;

    virtual ~IListClock() = default;
    // Waits up to ms milliseconds (Forever: without limit) unless woken() is
    // or becomes true. lock holds the mutex that guards what woken() reads;
    // whoever changes that state does so under the same mutex and then
    // notifies cv.
    // Returns woken().
    virtual bool SleepFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                          uint32_t ms, const std::function<bool()>& woken) = 0;
};

// Real waits on the steady clock.
IListClock& SystemListClock();

} // namespace qvx
