#include "serdev/memory/stepped_list_clock.h"

#include <algorithm>
#include <chrono>

namespace qvx {

bool TSteppedListClock::SleepFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                                 uint32_t ms, const std::function<bool()>& woken) {
    size_t n;
    {
        std::lock_guard<std::mutex> guard(Lock);
        Log.push_back(TSleep{ms, lock.mutex(), &cv});
        n = Log.size();
        Changed.notify_all();
    }
    // Lock order: the sleeper's mutex, then ours (Release never holds both).
    cv.wait(lock, [&] { return woken() || (ms != Forever && Released(n)); });
    return woken();
}

bool TSteppedListClock::Released(size_t n) const {
    std::lock_guard<std::mutex> guard(Lock);
    return std::find(ReleasedSleeps.begin(), ReleasedSleeps.end(), n) != ReleasedSleeps.end();
}

uint32_t TSteppedListClock::WaitSleep(size_t n) {
    std::unique_lock<std::mutex> lock(Lock);
    if (!Changed.wait_for(lock, std::chrono::seconds(30), [&] { return Log.size() >= n; }))
        return 0;
    return n == 0 ? 0 : Log[n - 1].Ms;
}

void TSteppedListClock::Release(size_t n) {
    std::mutex* owner = nullptr;
    std::condition_variable* wake = nullptr;
    {
        std::lock_guard<std::mutex> guard(Lock);
        ReleasedSleeps.push_back(n);
        if (n == 0 || n > Log.size())
            return;
        owner = Log[n - 1].Owner;
        wake = Log[n - 1].Wake;
    }
    std::lock_guard<std::mutex> guard(*owner);
    wake->notify_all();
}

size_t TSteppedListClock::SleepCount() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Log.size();
}

std::vector<uint32_t> TSteppedListClock::Sleeps() const {
    std::lock_guard<std::mutex> guard(Lock);
    std::vector<uint32_t> out;
    for (const TSleep& s : Log)
        out.push_back(s.Ms);
    return out;
}

} // namespace qvx
