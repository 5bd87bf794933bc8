#include "serdev/listclock.h"

#include <chrono>

namespace qvx {

namespace {

class TSystemListClock : public IListClock {
public:
    bool SleepFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, uint32_t ms,
                  const std::function<bool()>& woken) override {
        if (ms == Forever) {
            cv.wait(lock, woken);
            return true;
        }
        return cv.wait_for(lock, std::chrono::milliseconds(ms), woken);
    }
};

} // namespace

IListClock& SystemListClock() {
    static TSystemListClock clock;
    return clock;
}

} // namespace qvx
