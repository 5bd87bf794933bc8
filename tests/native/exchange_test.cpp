#include "session/exchange.h"
#include "tests/fakes/fake_link.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace qvx {
namespace {

// A device link driven by the test: received bytes are queued by hand, every
// write is recorded, the writer's backlog is set directly.
class TScriptedLink : public TFakeLinkBase {
public:
    Bytes Pending;             // received, not yet taken
    std::vector<Bytes> Writes; // every Write, in order
    int32_t Backlog = 0;       // what OutputCount reports
    bool WriteSucceeds = true;
    Bytes WaitReply; // what ReadWait delivers; nothing when empty
    uint32_t WaitIdleMs = 0;
    uint32_t WaitTotalMs = 0;
    int ReadAvailableCalls = 0;

    bool Write(const Bytes& bytes) override {
        Writes.push_back(bytes);
        return WriteSucceeds;
    }
    int32_t InputCount() override { return Opened ? static_cast<int32_t>(Pending.size()) : 0; }
    int32_t OutputCount() override { return Backlog; }
    bool ReadAvailable(Bytes& text) override {
        ++ReadAvailableCalls;
        if (!Pending.empty()) {
            text = Pending;
            Pending.clear();
        }
        return true;
    }
    bool ReadWait(Bytes& text, uint32_t idleMs, uint32_t totalMs = 0) override {
        WaitIdleMs = idleMs;
        WaitTotalMs = totalMs;
        if (WaitReply.empty())
            return false;
        text = WaitReply;
        return true;
    }
    TScriptedLink() { Name = "COM3"; }
};

// Bytes of a literal, embedded NULs included.
template <size_t N> Bytes Raw(const char (&text)[N]) {
    return Bytes(text, N - 1);
}

struct ExchangeTest : ::testing::Test {
    TScriptedLink Link;
    TServiceExchange Exchange{Link};
    TSessionState State = ssIdle;

    ExchangeTest() {
        Link.Opened = true;
        Exchange.SessionReceiving = true;
    }

    // One session tick: input first, then the wait step.
    void Tick(const Bytes& arriving = Bytes()) {
        Link.Pending += arriving;
        Exchange.ReceiveTick();
        State = Exchange.StepWait(State);
    }
    void Send(const Bytes& command) {
        State = Exchange.SendServiceCommand(command, ssIdentityDone, ssSendIdentify);
    }
};

// --- framing ----------------------------------------------------------------

TEST_F(ExchangeTest, ReplySplitByteByByteIsFoundAndGarbageBeforeItDropped) {
    const Bytes stream = "!Morvek_SC_I\r\n>\r\nCR: (C) Morveklink\r\nSN:0042\r\n\r\nSN:";
    const size_t complete = stream.find("\r\n\r\n") + 4;
    Send("!Morvek_SC_I");
    for (size_t i = 0; i < stream.size(); ++i) {
        Tick(Bytes(1, stream[i]));
        ASSERT_EQ(State == ssIdentityDone, i + 1 == complete) << "after byte " << i;
        if (State == ssIdentityDone)
            State = ssWaitReply; // keep pumping the tail
    }
    EXPECT_EQ(State, ssWaitReply);
    EXPECT_EQ(Exchange.LastReply, "CR: (C) Morveklink\r\nSN:0042");
    EXPECT_EQ(Exchange.RxText, "SN:"); // the tail waits for the next exchange
    EXPECT_FALSE(Exchange.InReply);
}

TEST_F(ExchangeTest, MarkersSplitBetweenReads) {
    Link.Pending = "noise\r\nC";
    Exchange.PumpInput(Link.InputCount());
    EXPECT_FALSE(Exchange.TakeReply());
    Link.Pending = "R:x\r\n";
    Exchange.PumpInput(Link.InputCount());
    EXPECT_FALSE(Exchange.TakeReply());
    EXPECT_TRUE(Exchange.InReply);
    EXPECT_EQ(Exchange.RxText, "\r\nCR:x\r\n");
    Link.Pending = "\r\n";
    Exchange.PumpInput(Link.InputCount());
    ASSERT_TRUE(Exchange.TakeReply());
    EXPECT_EQ(Exchange.LastReply, "CR:x");
    EXPECT_EQ(Exchange.RxText, "");
}

TEST_F(ExchangeTest, BytesAfterEndMarkerServeTheNextReply) {
    Exchange.RxText = "\r\nCR:one\r\n\r\njunk\r\nCR:two\r\nPI:1\r\n\r\n\r\nCR:";
    ASSERT_TRUE(Exchange.TakeReply());
    EXPECT_EQ(Exchange.LastReply, "CR:one");
    ASSERT_TRUE(Exchange.TakeReply());
    EXPECT_EQ(Exchange.LastReply, "CR:two\r\nPI:1");
    EXPECT_FALSE(Exchange.TakeReply());
    EXPECT_TRUE(Exchange.InReply);
    EXPECT_EQ(Exchange.RxText, "\r\nCR:");
    EXPECT_EQ(Exchange.LastReply, "CR:two\r\nPI:1"); // kept until the next reply
}

TEST_F(ExchangeTest, AnEndMarkerSplitAcrossTicksIsFound) {
    // Byte by byte: every cut of the end marker falls between two ticks.
    const Bytes reply = "\r\nCR:a\r\nb\r\n\r\n";
    for (size_t i = 0; i < reply.size(); ++i) {
        Exchange.RxText += reply[i];
        EXPECT_EQ(Exchange.TakeReply(), i + 1 == reply.size()) << i;
    }
    EXPECT_EQ(Exchange.LastReply, "CR:a\r\nb");
}

TEST_F(ExchangeTest, BodyKeepsEveryByteValue) {
    const Bytes body = Raw("CR:\x00\xFF\r\nX\x80");
    Exchange.RxText = Bytes("\x00", 1) + "\r\n" + body + "\r\n\r\n";
    ASSERT_TRUE(Exchange.TakeReply());
    EXPECT_EQ(Exchange.LastReply, body);
}

TEST_F(ExchangeTest, UnframedBabbleIsNotHoarded) {
    for (int i = 0; i < 1000; ++i) {
        Exchange.RxText += "garbage without any marker ";
        EXPECT_FALSE(Exchange.TakeReply());
        ASSERT_LE(Exchange.RxText.size(), 4u);
    }
    // A start marker that began in the trimmed text is still found.
    Exchange.RxText += "\r\nC";
    EXPECT_FALSE(Exchange.TakeReply());
    Exchange.RxText += "R:ok\r\n\r\n";
    ASSERT_TRUE(Exchange.TakeReply());
    EXPECT_EQ(Exchange.LastReply, "CR:ok");
}

TEST_F(ExchangeTest, ClearReceivedForgetsAStartedReply) {
    Exchange.RxText = "\r\nCR:partial";
    EXPECT_FALSE(Exchange.TakeReply());
    Exchange.ClearReceived();
    EXPECT_FALSE(Exchange.InReply);
    EXPECT_EQ(Exchange.RxText, "");
    Exchange.RxText = "tail\r\n\r\n";
    EXPECT_FALSE(Exchange.TakeReply()); // no start marker: no reply
}

// --- input and silence ------------------------------------------------------

TEST_F(ExchangeTest, PumpInputOnlyWithACount) {
    Link.Pending = "abc";
    Exchange.SilenceTicks = 3;
    EXPECT_FALSE(Exchange.PumpInput(0));
    EXPECT_FALSE(Exchange.PumpInput(-1));
    EXPECT_EQ(Link.ReadAvailableCalls, 0);
    EXPECT_EQ(Exchange.SilenceTicks, 3);
    EXPECT_TRUE(Exchange.PumpInput(3));
    EXPECT_EQ(Exchange.RxText, "abc");
    EXPECT_EQ(Exchange.SilenceTicks, 20);
    Link.Pending = "de";
    EXPECT_TRUE(Exchange.PumpInput(2));
    EXPECT_EQ(Exchange.RxText, "abcde");
}

TEST_F(ExchangeTest, ReceiveTickReadsOnlyWhileReceivingOnAnOpenLink) {
    Link.Pending = "x";
    Exchange.SessionReceiving = false;
    Exchange.ReceiveTick();
    EXPECT_EQ(Exchange.RxText, "");
    Exchange.SessionReceiving = true;
    Link.Opened = false;
    Exchange.ReceiveTick();
    EXPECT_EQ(Link.ReadAvailableCalls, 0);
    Link.Opened = true;
    Exchange.ReceiveTick();
    EXPECT_EQ(Exchange.RxText, "x");
}

TEST_F(ExchangeTest, SilenceRunsOutAfterTwentyTicksAndStaysExpired) {
    Exchange.ArmSilenceTimeout(10);
    for (int i = 1; i < 20; ++i)
        ASSERT_FALSE(Exchange.SilenceExpired()) << "tick " << i;
    EXPECT_TRUE(Exchange.SilenceExpired());
    EXPECT_TRUE(Exchange.SilenceExpired());
    EXPECT_EQ(Exchange.SilenceTicks, 0);

    TServiceExchange never(Link);
    EXPECT_TRUE(never.SilenceExpired());
}

// --- the wait for one reply --------------------------------------------------

TEST_F(ExchangeTest, SendWritesTheBareCommandOnce) {
    Link.WriteSucceeds = false; // not examined: the wait times out instead
    EXPECT_EQ(Exchange.SendServiceCommand("!Morvek_SC_M", ssSendModeNumber, ssNotFound),
              ssWaitSent);
    EXPECT_EQ(Link.Writes, std::vector<Bytes>{"!Morvek_SC_M"});
    EXPECT_EQ(Exchange.NextStateOnReply, ssSendModeNumber);
    EXPECT_EQ(Exchange.NextStateOnTimeout, ssNotFound);
}

TEST_F(ExchangeTest, WaitSentHoldsWhileTheWriterIsBusy) {
    Send("!Morvek_SC_I");
    Link.Backlog = 12;
    for (int i = 1; i < 20; ++i) {
        Tick();
        ASSERT_EQ(State, ssWaitSent);
    }
    // The reply that came meanwhile completes in the tick the writer is done.
    Link.Pending = "\r\nCR:x\r\n\r\n";
    Link.Backlog = 0;
    Tick();
    EXPECT_EQ(State, ssIdentityDone);
    EXPECT_EQ(Exchange.LastReply, "CR:x");
}

TEST_F(ExchangeTest, ACommandThatNeverLeavesTimesOutAfterTwentyTicks) {
    Send("!Morvek_SC_I");
    Link.Backlog = 12; // a line that holds its output back
    for (int i = 1; i < 20; ++i) {
        Tick();
        ASSERT_EQ(State, ssWaitSent) << "tick " << i;
    }
    Tick();
    EXPECT_EQ(State, ssSendIdentify);
}

TEST_F(ExchangeTest, TimeoutComesAfterTwentySilentTicks) {
    Send("!Morvek_SC_I");
    Tick(); // leaves ssWaitSent and counts the first silent tick
    for (int i = 2; i < 20; ++i) {
        Tick();
        ASSERT_EQ(State, ssWaitReply) << "tick " << i;
    }
    Tick();
    EXPECT_EQ(State, ssSendIdentify);
}

TEST_F(ExchangeTest, ArrivingBytesPostponeTheTimeout) {
    // A long log that keeps streaming, now and then pausing for 18 ticks: the
    // longest pause that the 20-tick silence timeout survives.
    Send("!Morvek_SC_T");
    Tick();
    Tick("\r\nCR:Test log\r\n");
    for (int line = 0; line < 500; ++line) {
        for (int quiet = 0; quiet < 18 && line % 50 == 0; ++quiet) {
            Tick();
            ASSERT_EQ(State, ssWaitReply) << "cut off in a pause before line " << line;
        }
        Tick("line\r\n");
        ASSERT_EQ(State, ssWaitReply) << "cut off at line " << line;
    }
    Tick("\r\n");
    EXPECT_EQ(State, ssIdentityDone);
    EXPECT_EQ(Exchange.LastReply.substr(0, 13), "CR:Test log\r\n");
    EXPECT_EQ(Exchange.LastReply.size(), 13 + 500 * 6 - 2u);
}

TEST_F(ExchangeTest, AReplyWithoutEndEndsAsATimeoutPastOneMebibyte) {
    Send("!Morvek_SC_T");
    Tick();
    Tick("\r\nCR:Test log\r\n");
    const Bytes chunk = Bytes(4094, 'x') + "\r\n"; // streaming without pause
    size_t received = 0;
    while (State == ssWaitReply && received < 3 * TServiceExchange::ReplyMaxBytes) {
        Tick(chunk);
        received += chunk.size();
    }
    EXPECT_EQ(State, ssSendIdentify);
    EXPECT_GT(received, TServiceExchange::ReplyMaxBytes - chunk.size());
    EXPECT_LE(received, TServiceExchange::ReplyMaxBytes + chunk.size());
    EXPECT_TRUE(Exchange.RxText.empty());
}

TEST_F(ExchangeTest, LateAnswerToAnEarlierAttemptIsFound) {
    Send("!Morvek_SC_I");
    for (int i = 0; i < 20; ++i)
        Tick();
    ASSERT_EQ(State, ssSendIdentify);
    // The answer to the first attempt starts arriving before the second send;
    // the receive text is kept between attempts.
    Link.Pending = "\r\nCR:first";
    Exchange.ReceiveTick();
    Send("!Morvek_SC_I");
    Tick("\r\n\r\n");
    EXPECT_EQ(State, ssIdentityDone);
    EXPECT_EQ(Exchange.LastReply, "CR:first");
    EXPECT_EQ(Link.Writes.size(), 2u);
}

TEST_F(ExchangeTest, EchoRunsOnlyWhileAReplyArrives) {
    std::vector<Bytes> seen;
    Exchange.EchoReply = [&] { seen.push_back(Exchange.RxText); };
    Send("!Morvek_SC_T");
    Tick("prompt>");
    Tick("\r\nCR:a");
    Tick("b\r\n");
    Tick("\r\n");
    EXPECT_EQ(State, ssIdentityDone);
    EXPECT_EQ(seen, (std::vector<Bytes>{"\r\nCR:ab\r\n", "\r\nCR:ab\r\n\r\n"}));
}

TEST_F(ExchangeTest, OtherStatesPassThroughTheWaitStep) {
    Link.Pending = "\r\nCR:x\r\n\r\n";
    Exchange.ReceiveTick();
    EXPECT_EQ(Exchange.StepWait(ssPowerDone), ssPowerDone);
    EXPECT_EQ(Exchange.LastReply, "");
}

// --- driver image -----------------------------------------------------------

TEST_F(ExchangeTest, DriverImageIsTheBytesBetweenTheMarkers) {
    Link.Opened = false;
    const Bytes image = Raw("MZ\x00\xFF[BEGIN]MkdV1.2");
    Link.WaitReply = "echo[BEGIN]" + image + "[END]\r\n[END]";
    Bytes payload = "old";
    ASSERT_EQ(Exchange.FetchDriverImage(payload), diReceived);
    EXPECT_EQ(payload, image);
    EXPECT_EQ(Link.Writes, std::vector<Bytes>{"!Morvek_SC_D"});
    EXPECT_EQ(Link.WaitIdleMs, 100u);
    EXPECT_FALSE(Link.IsOpen());
    EXPECT_EQ(Link.Closes, 1);
    EXPECT_EQ(Link.PortName(), "COM3");
}

TEST_F(ExchangeTest, DriverImageReadEndsAtItsDeadline) {
    // A full image takes 5.7 s at the line's rate; a trickle ends at 10 s.
    Link.WaitReply = "[BEGIN]x[END]";
    Bytes payload;
    ASSERT_EQ(Exchange.FetchDriverImage(payload), diReceived);
    EXPECT_EQ(Link.WaitTotalMs, 10000u);
}

TEST_F(ExchangeTest, DriverImageIsNoImageWithoutBothMarkersInOrder) {
    const Bytes replies[] = {"[BEGIN]data without end", "data[END]", "[END]x[BEGIN]y[END]",
                             "[BEGIN[END]", "[BEGIN][END]",
                             // the read stops at 65,536 bytes: no end within them
                             "[BEGIN]" + Bytes(65536, 'x') + "[END]"};
    for (const Bytes& reply : replies) {
        Link.WaitReply = reply;
        Bytes payload = "old";
        EXPECT_EQ(Exchange.FetchDriverImage(payload), diNoImage) << reply.substr(0, 40);
        EXPECT_EQ(payload, "") << reply.substr(0, 40);
    }
    Link.WaitReply.clear(); // silence
    Bytes payload = "old";
    EXPECT_EQ(Exchange.FetchDriverImage(payload), diNoImage);
    EXPECT_EQ(payload, "");
    EXPECT_EQ(Link.Opens, Link.Closes);
}

TEST_F(ExchangeTest, DriverImageNeedsTheLinkToOpen) {
    Link.OpenSucceeds = false;
    Link.WaitReply = "[BEGIN]x[END]";
    Bytes payload = "old";
    EXPECT_EQ(Exchange.FetchDriverImage(payload), diPortNotOpened);
    EXPECT_EQ(payload, "");
    EXPECT_TRUE(Link.Writes.empty());
}

} // namespace
} // namespace qvx
