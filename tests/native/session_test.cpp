#include "tests/native/window_fixture.h"

namespace qvx {
namespace {

const Bytes Identity =
    Framed({"CR:(c) Morveklink", "SN:QV000123", "ID:SIG", "FW:2.0", "BW:1.1", "PT:1.07", "PI:ON",
            "UI:12.34V", "05 - CAN", "07 - KWP", "Selected Mode: 07 - KWP"});

class SessionTest : public WindowTest {};

TEST_F(SessionTest, SearchIdentifiesTheAdapterAndUnlocks) {
    Link.Answer("!Morvek_SC_I", Identity);
    Link.ChunkSize = 7; // the reply spans many ticks
    Form.btSearch.UserClick();
    EXPECT_TRUE(Link.Opened);
    EXPECT_EQ(Link.Name, "COM3");
    Timers.Advance(10); // ssStart: the window locks
    EXPECT_FALSE(Form.pcOptions.Enabled());
    EXPECT_FALSE(Form.btSearch.Enabled());
    EXPECT_FALSE(Form.cbCOM.Enabled());
    RunSession();
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_I"}));
    EXPECT_EQ(Form.edSerial.Text(), "QV000123");
    EXPECT_EQ(Form.edPower.Text(), "12.890");
    EXPECT_TRUE(Form.cbPower.Checked());
    EXPECT_EQ(Column(0), (std::vector<std::string>{"05", "07"}));
    EXPECT_EQ(Form.lvModes.Selected()->SubItems[0], "07");
    EXPECT_FALSE(Link.Opened);
    EXPECT_TRUE(Form.pcOptions.Enabled());
    EXPECT_TRUE(Form.btSearch.Enabled());
    EXPECT_TRUE(Form.btCopy.Enabled());
    EXPECT_EQ(Form.ActiveControl(), &Form.lvModes);
    EXPECT_EQ(Setting("Port"), "COM3");
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_TRUE(Form.Exchange.RxText.empty());
    EXPECT_FALSE(Form.tmrSearch.Running());
}

TEST_F(SessionTest, SilentAdapterIsReportedAfterExactlyFourSends) {
    Form.btSearch.UserClick();
    RunSession();
    EXPECT_EQ(Link.Writes, std::vector<Bytes>(4, "!Morvek_SC_I"));
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text,
              "Quorvelix Adapter is not found on Communication Port COM3 (Communications Port)");
    EXPECT_EQ(UserIo.Boxes()[0].Caption, "Quorvelix Configurator Version 2.3.1.8 - Error...");
    EXPECT_EQ(UserIo.Boxes()[0].Flags, mb::IconStop);
    EXPECT_EQ(Form.edSerial.Text(), "");
    EXPECT_FALSE(Link.Opened);
    EXPECT_TRUE(Form.btSearch.Enabled());
    EXPECT_EQ(Setting("Port"), "COM3"); // the default written by the port list, not by a search
}

TEST_F(SessionTest, EachSilentWaitLastsTwentyTicks) {
    Form.btSearch.UserClick();
    // Tick 1 locks, tick 2 clears, tick 3 sends; then ssWaitSent arms 20 ticks.
    Timers.Advance(30);
    EXPECT_EQ(Link.Writes.size(), 1u);
    Timers.Advance(10 * 20);
    EXPECT_EQ(Link.Writes.size(), 1u);
    Timers.Advance(20);
    EXPECT_EQ(Link.Writes.size(), 2u);
}

TEST_F(SessionTest, AnAdapterAnsweringOnlyTheThirdIdentifyIsFound) {
    Link.Replies["!Morvek_SC_I"] = {"", "", Identity};
    Form.btSearch.UserClick();
    RunSession();
    EXPECT_EQ(Link.Writes.size(), 3u);
    EXPECT_EQ(Form.edSerial.Text(), "QV000123");
    EXPECT_TRUE(UserIo.Boxes().empty());
}

TEST_F(SessionTest, APortThatDoesNotOpenEndsBeforeAnySession) {
    Link.OpenSucceeds = false;
    Form.btSearch.UserClick();
    EXPECT_EQ(Form.SessionState, ssIdle);
    EXPECT_FALSE(Form.tmrSearch.Running());
    EXPECT_TRUE(Form.btSearch.Enabled());
    EXPECT_TRUE(Link.Writes.empty());
}

TEST_F(SessionTest, ALinkClosedBeforeTheFirstTickIsReported) {
    Form.btSearch.UserClick();
    Link.Opened = false;
    RunSession();
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text, "Cannot open Communication Port COM3 (Communications Port)");
    EXPECT_TRUE(Link.Writes.empty());
}

TEST_F(SessionTest, SelectModeSendsTheNumberBareAndRescansUsb) {
    Link.Answer("!Morvek_SC_I", Identity);
    Form.btSearch.UserClick();
    RunSession();
    Link.Writes.clear();
    Link.Answer("!Morvek_SC_M", Framed({"CR:ok"}));
    Link.Answer("05", Framed({"CR:(c)", "05 - CAN", "07 - KWP", "Selected Mode: 05 - CAN"}));
    Form.SelectedModeItem = Form.lvModes.Item(0);
    Form.Exchange.NextStateOnReply = ssSendSelectMode;
    ASSERT_TRUE(Form.StartSession());
    RunSession();
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_M", "05"}));
    EXPECT_EQ(Link.Rescans, 1);
    EXPECT_EQ(Form.lvModes.Item(0)->StateIndex, 0);
    EXPECT_EQ(Setting("Mode"), "05 - CAN");
}

TEST_F(SessionTest, ModeNumberIsSentEvenWhenTheCommandGetsNoReply) {
    Link.Answer("!Morvek_SC_I", Identity);
    Form.btSearch.UserClick();
    RunSession();
    Link.Writes.clear();
    Form.SelectedModeItem = Form.lvModes.Item(1);
    Form.Exchange.NextStateOnReply = ssSendSelectMode;
    ASSERT_TRUE(Form.StartSession());
    RunSession();
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_M", "07"}));
    ASSERT_EQ(UserIo.Boxes().size(), 1u); // the number got no reply either
}

TEST_F(SessionTest, PowerSwitchSendsTheBoxStateAndReadsTheVoltage) {
    Link.Answer("!Morvek_SC_I", Identity);
    Form.btSearch.UserClick();
    RunSession();
    Link.Writes.clear();
    Link.Answer("1", Framed({"PI:ON", "UI:11.45V"}));
    Link.Answer("0", Framed({"PI:OF", "UI:11.45V"}));
    Form.cbPower.UserClick(); // untick
    RunSession();
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_P", "0"}));
    EXPECT_FALSE(Form.cbPower.Checked());
    EXPECT_EQ(Form.edPower.Text(), "12.000");
    Link.Writes.clear();
    Form.cbPower.UserClick(); // tick
    RunSession();
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_P", "1"}));
    EXPECT_TRUE(Form.cbPower.Checked());
    Link.Writes.clear();
    Form.btPower.UserClick(); // "Read" repeats the state
    RunSession();
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_P", "1"}));
    EXPECT_TRUE(Form.cbPower.Enabled());
    EXPECT_TRUE(Form.btPower.Enabled());
}

TEST_F(SessionTest, AReplyUntickingTheBoxSendsNoFurtherCommand) {
    Link.Answer("!Morvek_SC_I", Identity);
    Form.btSearch.UserClick();
    RunSession();
    Link.Writes.clear();
    Link.Answer("1", Framed({"PI:OF"}));
    Form.btPower.UserClick();
    RunSession();
    Timers.Advance(1000);
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_P", "1"}));
    EXPECT_FALSE(Form.cbPower.Checked());
}

TEST_F(SessionTest, ResetWritesTheCommandAndClosesInTheSameTick) {
    Form.pcOptions.UserSelectPage(1);
    Form.btReset.UserClick();
    Timers.Advance(10);
    EXPECT_TRUE(Link.Writes.empty());
    Timers.Advance(10);
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_R"}));
    EXPECT_FALSE(Link.Opened);
    EXPECT_EQ(Form.SessionState, ssIdle);
    EXPECT_TRUE(UserIo.Boxes().empty());
}

TEST_F(SessionTest, NoSecondSessionWhileOneRuns) {
    Form.btSearch.UserClick();
    Timers.Advance(10);
    EXPECT_FALSE(Form.StartSession());
    Form.btReset.UserClick();     // its own button is not locked
    Form.cbShow.SetChecked(true); // from code: the box is disabled, but fires
    Form.btRunTestClick();
    EXPECT_EQ(Link.Opens, 1);
    RunSession();
    EXPECT_EQ(Link.Writes, std::vector<Bytes>(4, "!Morvek_SC_I"));
}

TEST_F(SessionTest, ShowAllRunsASearchAndShowsTheLegend) {
    Link.Answer("!Morvek_SC_I", Framed({"05 - CAN", "06 _ KWP"}));
    Form.cbShow.UserClick();
    EXPECT_TRUE(Form.lvInfo.Visible());
    EXPECT_EQ(Form.lvInfo.Width(), Form.btModeRun.Width());
    EXPECT_EQ(Form.lvInfo.Top() + Form.lvInfo.Height(), Form.btModeRun.Top());
    RunSession();
    EXPECT_EQ(Column(0), (std::vector<std::string>{"05", "06"}));
    Form.cbShow.UserClick();
    EXPECT_FALSE(Form.lvInfo.Visible());
    RunSession();
    EXPECT_EQ(Column(0), (std::vector<std::string>{"05"}));
}

TEST_F(SessionTest, BytesAfterTheEndMarkerAreNotShown) {
    Link.Answer("!Morvek_SC_I", "noise" + Framed({"SN:1"}) + "tail");
    Form.btSearch.UserClick();
    RunSession();
    EXPECT_EQ(Form.memLog.Lines(), (std::vector<std::string>{"CR:(c)", "SN:1"}));
}

// ---- port list ----

TEST_F(SessionTest, PortListSelectsTheStoredPortAndEnablesProperties) {
    EXPECT_EQ(Form.cbCOM.Items(), (std::vector<std::string>{"COM3 (Communications Port)",
                                                            "USB:A1B2C3D4 (Quorvelix Adapter)"}));
    EXPECT_EQ(Form.cbCOM.ItemIndex(), 0);
    EXPECT_TRUE(Form.btPortProp.Enabled());
    Form.cbCOM.UserSelect(1);
    EXPECT_EQ(Setting("Port"), "USB:A1B2C3D4");
    EXPECT_FALSE(Form.btPortProp.Enabled());
    Form.RebuildPortList(true);
    EXPECT_EQ(Form.cbCOM.ItemIndex(), 1);
}

TEST_F(SessionTest, UnchangedPortListLeavesTheComboAlone) {
    Form.cbCOM.SetItemIndex(1);
    Timers.Advance(500);
    EXPECT_EQ(Form.cbCOM.ItemIndex(), 1);
    Link.Lists.Entries[1].Description = "Renamed";
    Timers.Advance(500);
    EXPECT_EQ(Form.cbCOM.Items()[1], "USB:A1B2C3D4 (Renamed)");
    EXPECT_EQ(Form.cbCOM.ItemIndex(), 0); // "Port" still names COM3
}

TEST_F(SessionTest, EmptyPortListDisablesSearch) {
    Link.Lists = TPortLists();
    Timers.Advance(500);
    EXPECT_TRUE(Form.cbCOM.Items().empty());
    EXPECT_FALSE(Form.btSearch.Enabled());
    Link.AddPort("COM9", "x");
    Timers.Advance(500);
    EXPECT_TRUE(Form.btSearch.Enabled());
    EXPECT_EQ(Form.cbCOM.ItemIndex(), 0);
}

TEST_F(SessionTest, RefreshRescansAndRebuildsAtOnce) {
    Link.AddPort("COM4", "new");
    Form.btRefresh.UserClick();
    EXPECT_EQ(Link.Rescans, 1);
    Timers.Advance(1);
    EXPECT_EQ(Form.cbCOM.Items().size(), 3u);
    EXPECT_EQ(Form.tmrRefresh.Interval(), 500u);
}

std::string g_propsDevice;
int QVX_STDCALL FakeDeviceProperties(void*, const char* machine, const char* device, uint32_t,
                                     int) {
    g_propsDevice = std::string(machine ? "machine!" : "") + device;
    return 1;
}

TEST_F(SessionTest, PortPropertiesUseTheDeviceIdAndAreQuietWithoutTheLibrary) {
    Form.btPortProp.UserClick(); // no devmgr.dll: nothing happens
    Libraries.Add("devmgr.dll",
                  {{"DevicePropertiesExA", reinterpret_cast<void*>(&FakeDeviceProperties)}});
    Form.btPortProp.UserClick();
    EXPECT_EQ(g_propsDevice, "ACPI\\PNP0501\\1");
    EXPECT_EQ(Libraries.LoadedCount("devmgr.dll"), 0);
    EXPECT_TRUE(UserIo.Boxes().empty());
}

TEST_F(SessionTest, CopySelectsTheWholeLogAndPutsItOnTheClipboard) {
    Link.Answer("!Morvek_SC_I", Framed({"SN:1", "FW:2"}));
    Form.btSearch.UserClick();
    RunSession();
    Form.btCopy.UserClick();
    EXPECT_EQ(UserIo.Clipboard(), "CR:(c)\r\nSN:1\r\nFW:2\r\n");
    EXPECT_TRUE(Form.memLog.AllSelected());
}

} // namespace
} // namespace qvx
