// Fault campaign: the whole window over the simulated adapter while the
// adapter misbehaves. Every request is started through the window's own
// handlers and must end with the window usable, the link closed, the port
// list running, nothing written once the request has failed or ended, and
// the registry exactly as it was.
#include "app/Unitmain.h"
#include "platform/memory/watched.h"
#include "platform/memory/memory_platform.h"
#include "sim/sim_link.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <tuple>

namespace qvx {
namespace {

using TRegistrySnapshot = std::map<std::string, std::tuple<int, std::string, uint32_t>>;

void SnapshotKey(const TMemoryRegistry& registry, const std::string& path, TRegistrySnapshot& out) {
    for (const std::string& name : registry.ValueNamesOf(path)) {
        TMemoryRegistry::Value v;
        registry.GetValue(path, name, v);
        out[path + "|" + name] = std::make_tuple(static_cast<int>(v.Type), v.Text, v.Number);
    }
    for (const std::string& sub : registry.SubkeyNamesOf(path)) {
        const std::string child = path.empty() ? sub : path + "\\" + sub;
        out[child + "\\"] = std::make_tuple(-1, std::string(), 0u); // keys count too
        SnapshotKey(registry, child, out);
    }
}

class FaultTest : public ::testing::Test {
protected:
    FaultTest() {
        Lists.Entries = {{"USB:QV2A0017", "Quorvelix Adapter", ""}};
        Link.SetPortLists(Lists);
        Files.SetProgramPath("C:\\Quorvelix\\Configurator.exe");
        Form.FormCreate();
        UserIo.OnBox = [this] { Link.Ended = true; };
    }

    void Configure(const std::string& text) {
        TSimConfig config;
        std::string error;
        ASSERT_TRUE(ParseSimConfig(text, config, error)) << error;
        Adapter.SetConfig(config);
    }
    // Both clocks move on by 1 ms.
    void Step() {
        Link.Advance(1000);
        Timers.Advance(1);
    }
    bool Idle() const { return Form.Session.Idle() && !Form.Updater.IsUploading(); }
    // Steps until the window is idle; false when it is not within maxMs.
    bool RunUntilIdle(int maxMs = 120000) {
        for (int ms = 0; ms < maxMs; ++ms) {
            Step();
            if (Idle())
                return true;
        }
        return false;
    }
    bool RunUntil(const std::function<bool()>& condition, int maxMs = 120000) {
        for (int ms = 0; ms < maxMs; ++ms) {
            if (condition())
                return true;
            Step();
        }
        return condition();
    }
    // A good search first, so that the window has an adapter, its modes and
    // the stored port and mode; then the registry as the fault finds it.
    void SearchAndSnapshot(const std::string& config = "") {
        Configure(config);
        Form.btSearch.UserClick();
        ASSERT_TRUE(RunUntilIdle());
        ASSERT_TRUE(UserIo.Boxes().empty());
        ASSERT_EQ(Form.edSerial.Text(), "QV2A0017");
        Snapshot();
    }
    void Snapshot() {
        Before.clear();
        SnapshotKey(Registry, "", Before);
        UserIo.Clear();
        Link.Ended = false;
        Link.WritesAfterEnd.clear();
        OpensBefore = Link.OpenCount();
    }
    // Arms the record of writes for a request that is about to start.
    void StartRequest(TControl& control) {
        Link.Ended = false;
        control.UserClick();
    }

    // What every fault must leave behind.
    void ExpectRecovered() {
        EXPECT_TRUE(Idle()) << "the request did not end";
        EXPECT_FALSE(Link.IsOpen());
        EXPECT_EQ(Link.CloseCount(), Link.OpenCount());
        EXPECT_TRUE(Link.WritesAfterEnd.empty())
            << "written after the request ended: " << Link.WritesAfterEnd.size() << " times, "
            << "first '" << (Link.WritesAfterEnd.empty() ? "" : Link.WritesAfterEnd[0]) << "'";
        for (const TControl* c : std::initializer_list<const TControl*>{
                 &Form.pcOptions, &Form.btSearch, &Form.cbCOM, &Form.btRefresh, &Form.cbShow,
                 &Form.lvModes, &Form.cbPower, &Form.btPower})
            EXPECT_TRUE(c->Enabled()) << c->Name();
        EXPECT_EQ(Form.btUpdateRun.Caption(), "Run");
        EXPECT_TRUE(Form.tmrSearch.Interval() == 0) << "the session timer still runs";
        TRegistrySnapshot after;
        SnapshotKey(Registry, "", after);
        EXPECT_EQ(after, Before) << "the registry changed";
        ExpectPortListRuns();
    }
    // The refresh timer still rebuilds the port list: a new port shows up.
    void ExpectPortListRuns() {
        TPortLists more = Lists;
        more.Add("COM7", "Communications Port", "ACPI\\PNP0501\\7");
        Link.SetPortLists(more);
        for (int ms = 0; ms < 600; ++ms)
            Timers.Advance(1);
        EXPECT_EQ(Form.cbCOM.Items().size(), 2u) << "the port list no longer follows the link";
        Link.SetPortLists(Lists);
        for (int ms = 0; ms < 600; ++ms)
            Timers.Advance(1);
        EXPECT_EQ(Form.cbCOM.Text(), "USB:QV2A0017 (Quorvelix Adapter)");
    }
    // The adapter plugged in again and healthy: the next search finds it.
    void ExpectNextSearchWorks() {
        Adapter.Reconnect();
        Configure("");
        UserIo.Clear();
        Link.Ended = false;
        Form.btSearch.UserClick();
        ASSERT_TRUE(RunUntilIdle());
        EXPECT_TRUE(UserIo.Boxes().empty());
        EXPECT_EQ(Form.edSerial.Text(), "QV2A0017");
        EXPECT_FALSE(Link.IsOpen());
    }
    void ExpectNotFoundBox() {
        ASSERT_EQ(UserIo.Boxes().size(), 1u);
        EXPECT_EQ(UserIo.Boxes()[0].Text, "Quorvelix Adapter is not found on Communication Port "
                                          "USB:QV2A0017 (Quorvelix Adapter)");
    }
    size_t FrameSize(const std::string& line) const {
        return std::string("\r\nCR:" + Adapter.Config().Copyright + "\r\n" + line + "\r\n\r\n")
            .size();
    }
    void SelectMode(const std::string& number) {
        for (size_t i = 0; i < Form.lvModes.Count(); ++i)
            if (Form.lvModes.Item(i)->SubItems[0] == number)
                Form.lvModes.UserSelect(Form.lvModes.Item(i));
    }
    Bytes Image(size_t pages, size_t pageSize) {
        Bytes image(80 + pages * pageSize, '\0');
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<char>(i * 29 + 3);
        Files.Put("C:\\fw\\fault.rfw", image);
        return image;
    }
    void PrepareUpload() {
        Form.pcOptions.UserSelectPage(1);
        Form.edFW_File.SetText("C:\\fw\\fault.rfw");
        ASSERT_TRUE(Form.btUpdateRun.Enabled());
    }

    TMemoryRegistry Registry;
    TFakeLibraries Libraries;
    TWatchedUserIo UserIo;
    TMemoryFiles Files;
    TStaticVersion Version = TStaticVersion::Product();
    TManualTimers Timers;
    TPlatform Platform{Registry, Libraries, UserIo, Files, Version, Timers};
    TPortLists Lists;
    TSimAdapter Adapter;
    TWatchedLink<TSimLink> Link{Adapter};
    TfrmMain Form{Platform, &Link};
    TRegistrySnapshot Before;
    int OpensBefore = 0;
};

// ---- a. the adapter goes away in the middle of a reply ----------------------

TEST_F(FaultTest, DisconnectInTheMiddleOfTheIdentityReply) {
    Snapshot();
    Configure("fault.disconnect.bytes=60;line.rate=11520;line.chunk=16");
    StartRequest(Form.btSearch);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_FALSE(Adapter.Connected());
    EXPECT_EQ(Adapter.BytesSent(), 60u);
    ExpectNotFoundBox();
    EXPECT_EQ(Form.edSerial.Text(), "");
    EXPECT_EQ(Form.lvModes.Count(), 0u);
    ExpectRecovered();
    ExpectNextSearchWorks();
}

TEST_F(FaultTest, DisconnectInTheMiddleOfTheModeSwitchReply) {
    SearchAndSnapshot();
    SelectMode("002"); // selecting a row may store that mode's empty link
    Snapshot();
    // Cut 40 bytes into the identity listing that answers the mode number.
    const uint64_t cut = Adapter.BytesSent() + FrameSize("Mode number?") + 40;
    Configure("line.rate=11520;line.chunk=8;fault.disconnect.bytes=" + std::to_string(cut));
    StartRequest(Form.btModeSelect);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_FALSE(Adapter.Connected());
    EXPECT_EQ(Adapter.ArgumentLog().back(), "002");
    ExpectNotFoundBox();
    ExpectRecovered();
    ExpectNextSearchWorks();
}

TEST_F(FaultTest, DisconnectInTheMiddleOfThePowerReply) {
    SearchAndSnapshot();
    const uint64_t cut = Adapter.BytesSent() + FrameSize("Power switch 1/0?") + 10;
    Configure("line.rate=11520;fault.disconnect.bytes=" + std::to_string(cut));
    StartRequest(Form.btPower);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_FALSE(Adapter.Connected());
    ExpectNotFoundBox();
    ExpectRecovered();
}

// ---- b. ... in the middle of the streaming self-test -------------------------

TEST_F(FaultTest, DisconnectWhileTheSelfTestStreams) {
    SearchAndSnapshot();
    // Six steps of four pieces, 20 ms apart: gone after about half of them.
    Configure("test.steps=6;test.stepdelay=20000;fault.disconnect.at=" +
              std::to_string(Adapter.Now() + 250000));
    Form.pcOptions.UserSelectPage(Form.tsTest.PageIndex());
    StartRequest(Form.btRunTest);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_FALSE(Adapter.Connected());
    ExpectNotFoundBox();
    // The log keeps what was echoed, and no verdict is given.
    ASSERT_FALSE(Form.memLogTest.Lines().empty());
    EXPECT_EQ(Form.memLogTest.Lines()[0], "CR:" + Adapter.Config().Copyright);
    EXPECT_EQ(Form.memLogTest.Text().find("Self-test finished"), std::string::npos);
    EXPECT_EQ(Form.memLogTest.Text().find("RESULT"), std::string::npos);
    EXPECT_EQ(Form.edTest_Result.Text(), "");
    EXPECT_EQ(Form.shpTest_Result.BrushColor(), clScrollBar);
    EXPECT_TRUE(Form.btCopyTest.Enabled());
    EXPECT_TRUE(Form.btRunTest.Enabled());
    ExpectRecovered();
    ExpectNextSearchWorks();
}

// ---- c. ... in the middle of a firmware upload ------------------------------

TEST_F(FaultTest, DisconnectDuringTheUploadWaitsForStopAndWritesNothingMore) {
    SearchAndSnapshot("boot.pagesize=64;line.rate=11520;line.chunk=16");
    Image(40, 64);
    PrepareUpload();
    StartRequest(Form.btUpdateRun);
    ASSERT_TRUE(RunUntil([&] { return Adapter.Pages().size() >= 5; }));
    Adapter.Disconnect();
    // Whatever was on its way is answered; then the wire stays quiet.
    for (int ms = 0; ms < 100; ++ms)
        Step();
    const size_t writes = Link.Writes().size();
    for (int ms = 0; ms < 5000; ++ms)
        Step();
    EXPECT_EQ(Link.Writes().size(), writes);
    // The upload has no time limit of its own; its Stop button ends it.
    EXPECT_TRUE(Form.Updater.IsUploading());
    EXPECT_TRUE(Form.pcOptions.Enabled());
    EXPECT_TRUE(Form.btUpdateRun.Enabled());
    EXPECT_EQ(Form.btUpdateRun.Caption(), "Stop");
    EXPECT_FALSE(Form.btSearch.Enabled());
    Form.btUpdateRun.UserClick();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(Form.memUpdate.Lines().back(), "Firmware Update canceled...");
    EXPECT_TRUE(UserIo.Boxes().empty());
    ExpectRecovered();
    ExpectNextSearchWorks();
}

TEST_F(FaultTest, DisconnectInTheMiddleOfTheHeaderAnswer) {
    SearchAndSnapshot("boot.pagesize=64");
    Image(4, 64);
    // The update reply, the prompt, the connect answer and 5 bytes of the
    // header answer reach the host.
    const uint64_t cut = Adapter.BytesSent() + FrameSize("Boot loader started") + 1 + 2 + 5;
    Configure("boot.pagesize=64;line.rate=11520;fault.disconnect.bytes=" + std::to_string(cut));
    PrepareUpload();
    StartRequest(Form.btUpdateRun);
    for (int ms = 0; ms < 3000; ++ms)
        Step();
    EXPECT_FALSE(Adapter.Connected());
    ASSERT_TRUE(Form.Updater.IsUploading());
    Form.btUpdateRun.UserClick();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(Form.memUpdate.Lines().back(), "Firmware Update canceled...");
    ExpectRecovered();
}

// ---- d. garbage ------------------------------------------------------------

TEST_F(FaultTest, LongGarbageWithMarkerPiecesBeforeEveryReply) {
    Snapshot();
    // Pieces of both markers, an empty line and every byte value: none of
    // it may start a reply.
    std::string garbage;
    for (int i = 0; i < 200; ++i)
        garbage += "\\r\\nC\\r\\n\\r\\nCR\\r\\r\\n\\x00\\xFF!Morvek_SC_\\x0D\\x0A\\x0DR:";
    Configure("line.rate=115200;line.chunk=64;fault.garbage=" + garbage);
    StartRequest(Form.btSearch);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(Form.edSerial.Text(), "QV2A0017");
    EXPECT_EQ(Form.edCopyRight.Text(), Adapter.Config().Copyright);
    EXPECT_EQ(Adapter.IdentifyCount(), 1);
    // A successful search stores the port and the mode, as they were.
    EXPECT_FALSE(Link.IsOpen());
    EXPECT_TRUE(Link.WritesAfterEnd.empty());

    Snapshot();
    Form.pcOptions.UserSelectPage(Form.tsTest.PageIndex());
    StartRequest(Form.btRunTest);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(Form.edTest_Result.Text(), "0/0");
    EXPECT_EQ(Form.memLogTest.Lines()[0], "CR:" + Adapter.Config().Copyright);
    ExpectRecovered();
}

TEST_F(FaultTest, RandomFloodBeforeEveryReply) {
    Snapshot();
    Configure("fault.flood=200000;line.rate=1000000;line.chunk=512");
    StartRequest(Form.btSearch);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(Form.edSerial.Text(), "QV2A0017");
    EXPECT_EQ(Adapter.IdentifyCount(), 1);

    Snapshot();
    SelectMode("002");
    StartRequest(Form.btModeSelect);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(Adapter.RunningMode(), "002");
    ASSERT_NE(Form.lvModes.Selected(), nullptr);
    EXPECT_EQ(Form.lvModes.Selected()->SubItems[0], "002");
}

TEST_F(FaultTest, RandomFloodThatEndsInSilenceIsNotFound) {
    Snapshot();
    // 300000 random bytes and no reply at all.
    Configure("fault.flood=300000;fault.identify.from=99;line.rate=1000000;line.chunk=1024");
    StartRequest(Form.btSearch);
    ASSERT_TRUE(RunUntilIdle());
    ExpectNotFoundBox();
    EXPECT_EQ(Form.edSerial.Text(), "");
    ExpectRecovered();
}

// A device that never stops sending noise (a wrong device on the port) must
// not keep the window locked for ever.
TEST_F(FaultTest, EndlessBabbleWithoutAReplyEndsTheSearch) {
    Snapshot();
    Configure("fault.babble=1;fault.identify.from=99;line.rate=115200");
    StartRequest(Form.btSearch);
    ASSERT_TRUE(RunUntilIdle(60000)) << "the window stayed locked under a stream of noise";
    ExpectNotFoundBox();
    EXPECT_EQ(Adapter.IdentifyCount(), 4);
    ExpectRecovered();
}

TEST_F(FaultTest, EndlessBabbleAroundTheRepliesStillFindsTheAdapter) {
    Snapshot();
    Configure("fault.babble=1;line.rate=115200;line.chunk=64");
    StartRequest(Form.btSearch);
    ASSERT_TRUE(RunUntilIdle(60000));
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(Form.edSerial.Text(), "QV2A0017");
}

// ---- e. replies longer than the link's buffer -------------------------------

TEST_F(FaultTest, IdentityReplyOf40000BytesWithoutAPause) {
    Snapshot();
    std::string config = "line.rate=0";
    for (int i = 0; i < 500; ++i)
        config += ";identity.extra=XX:" + std::string(76, static_cast<char>('a' + i % 26));
    Configure(config);
    StartRequest(Form.btSearch);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(Form.edSerial.Text(), "QV2A0017");
    EXPECT_EQ(Form.lvModes.Count(), 3u);
    EXPECT_EQ(Form.memLog.Text().find("XX:"), std::string::npos);
    EXPECT_FALSE(Link.IsOpen());
}

TEST_F(FaultTest, SelfTestLogOf60000BytesWithoutAPause) {
    SearchAndSnapshot();
    Configure("test.steps=500;test.errors=3;test.stepdelay=0;line.rate=0");
    Form.pcOptions.UserSelectPage(Form.tsTest.PageIndex());
    StartRequest(Form.btRunTest);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(Form.edTest_Result.Text(), "3/0");
    const auto& lines = Form.memLogTest.Lines();
    ASSERT_GT(lines.size(), 500u);
    EXPECT_EQ(lines.back(), "RESULT : Error");
    EXPECT_NE(Form.memLogTest.Text().find("Step 500 K-Line: done"), std::string::npos);
    ExpectRecovered();
}

TEST_F(FaultTest, SelfTestStreamingFasterThanTheTickDrainsTheBuffer) {
    SearchAndSnapshot();
    // 2 MB/s in 64 KB pieces: the link's buffer is full at every tick.
    Configure("test.steps=1000;test.stepdelay=100;line.rate=2000000;line.chunk=65536");
    Form.pcOptions.UserSelectPage(Form.tsTest.PageIndex());
    StartRequest(Form.btRunTest);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(Form.edTest_Result.Text(), "0/0");
    EXPECT_NE(Form.memLogTest.Text().find("Step 1000 Clock: done"), std::string::npos);
    EXPECT_EQ(Form.memLogTest.Lines().back(), "RESULT : OK (No Errors)");
    ExpectRecovered();
}

// ---- f. an adapter that echoes every command --------------------------------

TEST_F(FaultTest, EchoingAdapterServesEveryRequest) {
    Snapshot();
    Configure("fault.echo=1;line.rate=11520;line.chunk=4;test.errors=1;boot.pagesize=64");
    Form.btSearch.UserClick();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(Form.edSerial.Text(), "QV2A0017");

    SelectMode("002");
    Form.btModeSelect.UserClick();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(Adapter.RunningMode(), "002");
    EXPECT_EQ(Adapter.ArgumentLog().back(), "002");

    Form.cbPower.UserClick();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(Adapter.PowerOn());
    EXPECT_TRUE(Form.cbPower.Checked());

    Form.pcOptions.UserSelectPage(Form.tsTest.PageIndex());
    Form.btRunTest.UserClick();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(Form.edTest_Result.Text(), "1/0");
    // The echoed command is not part of the log.
    EXPECT_EQ(Form.memLogTest.Text().find("!Morvek_SC_T"), std::string::npos);

    const Bytes image = Image(3, 64);
    PrepareUpload();
    Form.btUpdateRun.UserClick();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(Form.memUpdate.Lines().back(), "Updating firmware : Ok");
    ASSERT_EQ(Adapter.Pages().size(), 3u);
    EXPECT_EQ(Adapter.Pages().at(2), image.substr(80 + 128, 64));
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(Adapter.CommandLog(), "IMPTU");

    // The registry holds the new port and mode and nothing else changed.
    Snapshot();
    Form.btSearch.UserClick();
    ASSERT_TRUE(RunUntilIdle());
    ExpectRecovered();
}

// ---- g. a boot loader that refuses for ever ---------------------------------

TEST_F(FaultTest, BootLoaderThatRefusesAPageForEver) {
    SearchAndSnapshot("boot.pagesize=64;line.rate=11520;line.chunk=8");
    Configure("boot.pagesize=64;line.rate=11520;line.chunk=8;fault.nak.page=2;fault.nak.count=-1");
    Image(6, 64);
    PrepareUpload();
    StartRequest(Form.btUpdateRun);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(Form.memUpdate.Lines().back(), "Writing Page #2 : Error");
    EXPECT_EQ(Form.edUpdateSatus.Text(), "Writing Page #2 : Error");
    EXPECT_EQ(Adapter.NaksSent(), 4);
    EXPECT_EQ(Adapter.Pages().size(), 2u);
    EXPECT_EQ(Adapter.CompletedUploads(), 0);
    EXPECT_TRUE(UserIo.Boxes().empty());
    // The boot loader asks again after its last refusal: nobody answers.
    for (int ms = 0; ms < 2000; ++ms)
        Step();
    ExpectRecovered();
}

TEST_F(FaultTest, BootLoaderThatRefusesTheEndMarker) {
    SearchAndSnapshot("boot.pagesize=64;fault.nak.end=1");
    Image(2, 64);
    PrepareUpload();
    StartRequest(Form.btUpdateRun);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(Form.memUpdate.Lines().back(), "Error updating firmware...");
    EXPECT_EQ(Adapter.CompletedUploads(), 0);
    // The refusing boot loader prompts again: nothing answers it.
    for (int ms = 0; ms < 2000; ++ms)
        Step();
    ExpectRecovered();
}

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
