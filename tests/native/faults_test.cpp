// The fault campaign (tests/faults) over the simulated link, and the pieces
// below the window that its scenarios lean on: the exchange's bound on a wait
// without a start marker, and the simulator's noise.
#include "tests/faults/fault_rig.h"

#include "session/exchange.h"
#include "sim/sim_config.h"
#include "sim/sim_link.h"

#include <gtest/gtest.h>

#include <map>

namespace qvx {

INSTANTIATE_TEST_SUITE_P(Link, FaultTest, ::testing::Values(TRigMaker{"Sim", MakeSimRig}), RigName);

namespace {

// The bound on a wait without a start marker, at the exchange itself: noise
// ends the wait after UnframedTicksMax ticks however it streams, while a
// reply that has started is waited for as long as it streams.
int TicksToEndTheWait(const std::string& config, const Bytes& command, TSessionState& end) {
    TSimConfig parsed;
    std::string error;
    EXPECT_TRUE(ParseSimConfig(config, parsed, error)) << error;
    TSimAdapter adapter(parsed);
    TSimLink link(adapter);
    link.Open();
    TServiceExchange exchange(link);
    exchange.SessionReceiving = true;
    TSessionState state = exchange.SendServiceCommand(command, ssSelfTestDone, ssNotFound);
    for (int tick = 1; tick < 100000; ++tick) {
        link.Advance(10000);
        exchange.ReceiveTick();
        state = exchange.StepWait(state);
        if (state != ssWaitSent && state != ssWaitReply) {
            end = state;
            return tick;
        }
    }
    end = state;
    return -1;
}

TEST(UnframedWait, NoiseEndsTheWaitAStreamingReplyDoesNot) {
    TSessionState end = ssIdle;
    const int noise = TicksToEndTheWait("fault.babble=1;line.rate=9600", "!Morvek_SC_X", end);
    EXPECT_EQ(end, ssNotFound);
    EXPECT_GE(noise, TServiceExchange::UnframedTicksMax);
    EXPECT_LE(noise, TServiceExchange::UnframedTicksMax + 2);
    // 200 steps of four pieces 10 ms apart: about 8 s of streaming.
    const int log = TicksToEndTheWait("test.steps=200;test.stepdelay=10000", "!Morvek_SC_T", end);
    EXPECT_EQ(end, ssSelfTestDone);
    EXPECT_GT(log, 790);
}

// ---- the simulator's noise ---------------------------------------------------

TEST(SimNoise, FloodPrecedesEveryReplyAndBabbleNeverStops) {
    TSimConfig config;
    std::string error;
    ASSERT_TRUE(ParseSimConfig("fault.flood=5000", config, error)) << error;
    EXPECT_EQ(config.FloodBytes, 5000u);
    TSimAdapter adapter(config);
    adapter.HostWrite("!Morvek_SC_I");
    adapter.Advance(1000);
    Bytes first = adapter.HostRead(SIZE_MAX);
    ASSERT_GT(first.size(), 5000u);
    EXPECT_EQ(first.substr(5000, 5), "\r\nCR:");
    std::map<char, int> values;
    for (size_t i = 0; i < 5000; ++i)
        ++values[first[i]];
    EXPECT_GT(values.size(), 200u) << "the flood is not noise";
    adapter.HostWrite("!Morvek_SC_I");
    adapter.Advance(1000);
    Bytes second = adapter.HostRead(SIZE_MAX);
    EXPECT_NE(second.substr(0, 5000), first.substr(0, 5000));

    ASSERT_TRUE(ParseSimConfig("fault.flood=0;fault.babble=on;line.rate=10000", config, error));
    EXPECT_TRUE(config.Babble);
    TSimAdapter babbler(config);
    babbler.Advance(2000000);
    const size_t got = babbler.HostRead(SIZE_MAX).size();
    EXPECT_GE(got, 19000u);
    EXPECT_LE(got, 20001u);
    babbler.Disconnect();
    babbler.Advance(1000000);
    EXPECT_EQ(babbler.HostAvailable(), 0u);
    EXPECT_NE(FormatSimConfig(config).find("fault.babble=1"), std::string::npos);
}

} // namespace
} // namespace qvx
