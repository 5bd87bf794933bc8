// Window timers on the test's own thread, driven by a message loop here.
#include "platform/win32/win_timers.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

using namespace qvx;

namespace {

// Runs the thread's message loop until done() holds. The limit only keeps a
// broken timer from hanging the suite; it is far above any expected wait.
template <typename Done> bool PumpUntil(Done done) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > 20000)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return true;
}

// Lets another timer tick several times: time enough for a stopped or
// blocked timer of a short interval to show up if it still fired.
void PumpTicksOfAnother(TWinTimers& timers, int ticks) {
    int seen = 0;
    TimerId probe = timers.Start(10, [&] { ++seen; });
    ASSERT_NE(probe, 0u);
    EXPECT_TRUE(PumpUntil([&] { return seen >= ticks; }));
    timers.Stop(probe);
}

// Tells when the tick's captured state goes away.
struct TSentinel {
    explicit TSentinel(bool* gone) : Gone(gone) {}
    TSentinel(const TSentinel&) = delete;
    TSentinel& operator=(const TSentinel&) = delete;
    ~TSentinel() { *Gone = true; }
    bool* Gone;
};

TEST(WinTimers, TicksRunOnTheStartingThread) {
    TWinTimers timers;
    const DWORD self = GetCurrentThreadId();
    int ticks = 0;
    bool elsewhere = false;
    TimerId a = timers.Start(10, [&] {
        ++ticks;
        elsewhere |= GetCurrentThreadId() != self;
    });
    TimerId b = timers.Start(15, [] {});
    EXPECT_NE(a, 0u);
    EXPECT_NE(b, 0u);
    EXPECT_NE(a, b);
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }));
    EXPECT_FALSE(elsewhere);
    timers.Stop(a);
    timers.Stop(b);
}

TEST(WinTimers, StopFromInsideItsOwnTick) {
    TWinTimers timers;
    bool gone = false;
    auto sentinel = std::make_shared<TSentinel>(&gone);
    int ticks = 0;
    bool aliveAfterStop = false;
    TimerId id = 0;
    id = timers.Start(10, [&, sentinel] {
        if (++ticks < 2)
            return;
        timers.Stop(id);
        // The rest of this tick still runs on its own captured state.
        aliveAfterStop = !gone && sentinel;
    });
    sentinel.reset();
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 2; }));
    EXPECT_TRUE(aliveAfterStop);
    EXPECT_TRUE(gone); // released once the tick returned
    PumpTicksOfAnother(timers, 5);
    EXPECT_EQ(ticks, 2);
    // Stopping again, or an id never given, does nothing.
    timers.Stop(id);
    timers.Stop(12345);
}

TEST(WinTimers, TickDoesNotReenterItselfFromANestedLoop) {
    TWinTimers timers;
    int outer = 0;
    int during = -1;
    TimerId id = timers.Start(10, [&] {
        if (++outer == 1) {
            // What a modal box does: a message loop inside the tick.
            PumpTicksOfAnother(timers, 5);
            during = outer;
        }
    });
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(PumpUntil([&] { return outer >= 2; }));
    EXPECT_EQ(during, 1);
    timers.Stop(id);
}

TEST(WinTimers, ExceptionFromATickIsReportedAndTheTimerGoesOn) {
    TWinTimers timers;
    std::string reported;
    int ticks = 0;
    timers.SetErrorHandler([&](const std::string& text) { reported = text; });
    TimerId id = timers.Start(10, [&] {
        if (++ticks == 1)
            throw std::runtime_error("tick failed");
    });
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 2; }));
    EXPECT_EQ(reported, "tick failed");
    timers.Stop(id);
}

TEST(WinTimers, TimerStartedInATickCountsFromThatTicksDueTime) {
    // Started before and after the tick's work: counted from the calls, the
    // longer one would come first; counted from the tick, the shorter one.
    TWinTimers timers;
    std::string order;
    TimerId tick = 0, longer = 0, shorter = 0;
    tick = timers.Start(10, [&] {
        timers.Stop(tick);
        longer = timers.Start(1080, [&] {
            order += 'L';
            timers.Stop(longer);
        });
        Sleep(150); // the tick's own work
        shorter = timers.Start(1000, [&] {
            order += 'S';
            timers.Stop(shorter);
        });
    });
    ASSERT_TRUE(PumpUntil([&] { return order.size() >= 2; }));
    EXPECT_EQ(order, "SL");
}

TEST(WinTimers, StoppedWithItsTickQueuedNeverTicks) {
    TWinTimers timers;
    int ticks = 0;
    TimerId id = timers.Start(10, [&] { ++ticks; });
    Sleep(100); // no message loop meanwhile: its tick waits in the queue
    timers.Stop(id);
    PumpTicksOfAnother(timers, 5);
    EXPECT_EQ(ticks, 0);
}

TEST(WinTimers, TicksDoNotPileUpWhileTheThreadIsBusy) {
    TWinTimers timers;
    int ticks = 0;
    TimerId id = timers.Start(50, [&] { ++ticks; });
    Sleep(1000); // some twenty due times pass without a message loop
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
    EXPECT_EQ(ticks, 1);
    timers.Stop(id);
}

TEST(WinTimers, ServiceGoneWithTimersRunning) {
    int ticks = 0;
    {
        TWinTimers timers;
        timers.Start(10, [&] { ++ticks; });
        ASSERT_TRUE(PumpUntil([&] { return ticks >= 1; }));
    }
    const int atEnd = ticks;
    TWinTimers other;
    PumpTicksOfAnother(other, 5);
    EXPECT_EQ(ticks, atEnd);
}

} // namespace
