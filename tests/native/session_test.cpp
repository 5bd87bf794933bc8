#include "tests/fakes/session_views.h"
#include "tests/native/window_fixture.h"

namespace qvx {
namespace {

const Bytes Identity =
    Framed({"CR:(c) Morveklink", "SN:QV000123", "ID:SIG", "FW:2.0", "BW:1.1", "PT:1.07", "PI:ON",
            "UI:12.34V", "05 - CAN", "07 - KWP", "Selected Mode: 07 - KWP"});

// The session engine alone: a scripted link, the views recorded.
class SessionEngine : public ::testing::Test, protected TMemoryPlatform {
protected:
    SessionEngine() {
        Settings.AppProductName = "Quorvelix";
        Settings.AppTitle = "Quorvelix Configurator Version 2.3.1.8";
    }
    // Ticks until the session ends (bounded); returns the ticks taken.
    int Run(int maxTicks = 2000) {
        int ticks = 0;
        while (ticks < maxTicks && !Session.Idle()) {
            Session.Tick();
            ++ticks;
        }
        return ticks;
    }
    void Ticks(int n) {
        while (n-- > 0)
            Session.Tick();
    }
    std::string Setting(const std::string& name) {
        TMemoryRegistry::Value v;
        return Registry.GetValue("SOFTWARE\\Morveklink", name, v) ? v.Text : "<missing>";
    }
    std::vector<std::string> Numbers() const {
        std::vector<std::string> numbers;
        for (const TModeRow& row : View.Rows)
            numbers.push_back(row.Number);
        return numbers;
    }

    TReplyLink Link;
    TFakeSessionViews View;
    TSettingsStore Settings{Platform};
    TSession Session{Link, Settings, View, View, View};
};

TEST_F(SessionEngine, SearchIdentifiesTheAdapterAndStoresThePort) {
    Link.Answer("!Morvek_SC_I", Identity);
    Link.ChunkSize = 7; // the reply spans many ticks
    ASSERT_TRUE(Session.Search(View.Inputs()));
    EXPECT_TRUE(Link.Opened);
    EXPECT_EQ(Link.Name, "COM3");
    EXPECT_EQ(View.TickMs, 10u);
    Session.Tick();
    EXPECT_EQ(View.Locks, 1);
    Run();
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_I"}));
    EXPECT_EQ(View.IdentityClears, 1);
    EXPECT_EQ(View.Fields[TIdentityField::Serial], "QV000123");
    EXPECT_EQ(View.Fields[TIdentityField::Driver], "1.07");
    EXPECT_EQ(View.PowerShown.back(), (std::vector<int>{1, 1, -1, 12890}));
    EXPECT_EQ(Numbers(), (std::vector<std::string>{"05", "07"}));
    EXPECT_EQ(View.RunningRows, std::vector<size_t>{1});
    EXPECT_EQ(View.Log.size(), 11u);
    EXPECT_FALSE(Link.Opened);
    EXPECT_EQ(View.Unlocks, 1);
    EXPECT_TRUE(View.FocusRestored);
    EXPECT_EQ(Setting("Port"), "COM3");
    EXPECT_EQ(Setting("Mode"), "07 - KWP");
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_TRUE(Session.Exchange.RxText.empty());
    EXPECT_EQ(View.TickMs, 0u);
}

TEST_F(SessionEngine, AThrowingTickEndsItsSessionAndPassesTheErrorOn) {
    ASSERT_TRUE(Session.Search(View.Inputs()));
    Session.Tick(); // locks
    View.ClearIdentityThrows = true;
    EXPECT_THROW(Session.Tick(), std::bad_alloc);
    EXPECT_TRUE(Session.Idle());
    EXPECT_FALSE(Link.Opened);
    EXPECT_EQ(View.Unlocks, 1);
    EXPECT_EQ(View.TickMs, 0u);
}

TEST_F(SessionEngine, SilentAdapterIsReportedAfterExactlyFourSendsOfTwentyTicksEach) {
    ASSERT_TRUE(Session.Search(View.Inputs()));
    // Tick 1 locks, tick 2 clears, tick 3 sends; then each wait is 20 ticks.
    Ticks(3);
    EXPECT_EQ(Link.Writes.size(), 1u);
    Ticks(20);
    EXPECT_EQ(Link.Writes.size(), 1u);
    Ticks(2);
    EXPECT_EQ(Link.Writes.size(), 2u);
    Run();
    EXPECT_EQ(Link.Writes, std::vector<Bytes>(4, "!Morvek_SC_I"));
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text,
              "Quorvelix Adapter is not found on Communication Port COM3 (Communications Port)");
    EXPECT_EQ(UserIo.Boxes()[0].Caption, "Quorvelix Configurator Version 2.3.1.8 - Error...");
    EXPECT_EQ(UserIo.Boxes()[0].Flags, mb::IconStop);
    EXPECT_FALSE(View.FocusRestored);
    EXPECT_FALSE(Link.Opened);
    EXPECT_EQ(Setting("Port"), "<missing>");
}

TEST_F(SessionEngine, AnAdapterAnsweringOnlyTheThirdIdentifyIsFound) {
    Link.Replies["!Morvek_SC_I"] = {"", "", Identity};
    Session.Search(View.Inputs());
    Run();
    EXPECT_EQ(Link.Writes.size(), 3u);
    EXPECT_EQ(View.Fields[TIdentityField::Serial], "QV000123");
    EXPECT_TRUE(UserIo.Boxes().empty());
}

TEST_F(SessionEngine, APortThatDoesNotOpenOrClosesBeforeTheFirstTickEndsTheSession) {
    Link.OpenSucceeds = false;
    EXPECT_FALSE(Session.Search(View.Inputs()));
    EXPECT_TRUE(Session.Idle());
    EXPECT_EQ(View.TickMs, 0u);
    EXPECT_EQ(View.Unlocks, 1);

    Link.OpenSucceeds = true;
    View.HasPort = false; // nothing chosen: the link gets no name
    ASSERT_TRUE(Session.Search(View.Inputs()));
    EXPECT_EQ(Link.Name, "");
    Link.Opened = false;
    Run();
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text, "Cannot open Communication Port COM3 (Communications Port)");
    EXPECT_TRUE(Link.Writes.empty());
}

TEST_F(SessionEngine, SelectModeSendsTheNumberBareAndRescansUsb) {
    Link.Answer("!Morvek_SC_M", Framed({"CR:ok"}));
    Link.Answer("05", Framed({"CR:(c)", "05 - CAN", "07 - KWP", "Selected Mode: 05 - CAN"}));
    View.Mode = "05";
    ASSERT_TRUE(Session.Start(ssSendSelectMode, View.Inputs()));
    Run();
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_M", "05"}));
    EXPECT_EQ(Link.Rescans, 1);
    EXPECT_EQ(View.ModeClears, 1);
    EXPECT_EQ(View.Rows.at(0).StateIndex, 0);
    EXPECT_EQ(Setting("Mode"), "05 - CAN");

    // Without an answer to the command the number still goes; without one to
    // the number the adapter is not found.
    Link.Writes.clear();
    View.Mode = "07";
    ASSERT_TRUE(Session.Start(ssSendSelectMode, View.Inputs()));
    Link.Replies.clear();
    Run();
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_M", "07"}));
    EXPECT_EQ(UserIo.Boxes().size(), 1u);
}

TEST_F(SessionEngine, PowerSendsTheWantedStateAndReadsTheReply) {
    Link.Answer("0", Framed({"PI:OF", "UI:11.45V"}));
    ASSERT_TRUE(Session.Start(ssSendPower, View.Inputs()));
    Run();
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_P", "0"}));
    EXPECT_EQ(View.PowerShown.at(View.PowerShown.size() - 2), (std::vector<int>{1, 1, 0, -1}));
    Link.Writes.clear();
    View.Power = true;
    Session.Start(ssSendPower, View.Inputs());
    Run();
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_P", "1"}));
}

TEST_F(SessionEngine, ResetWritesTheCommandAndClosesInTheSameTick) {
    ASSERT_TRUE(Session.Reset(View.Inputs()));
    Session.Tick();
    EXPECT_TRUE(Link.Writes.empty());
    Session.Tick();
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_R"}));
    EXPECT_FALSE(Link.Opened);
    EXPECT_TRUE(Session.Idle());
}

TEST_F(SessionEngine, ARefusedRequestLeavesTheRunningSessionAlone) {
    Link.Answer("!Morvek_SC_I", Identity);
    Link.ChunkSize = 7;
    Session.Search(View.Inputs());
    Ticks(4); // the command is out, the reply is arriving
    EXPECT_FALSE(Session.Start(ssSendReset, View.Inputs()));
    EXPECT_FALSE(Session.Reset(View.Inputs()));
    EXPECT_FALSE(Session.Search(View.Inputs()));
    Run();
    EXPECT_EQ(Link.Opens, 1);
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_I"}));
    EXPECT_EQ(View.Fields[TIdentityField::Serial], "QV000123");
}

TEST_F(SessionEngine, BytesOutsideTheReplyAreNotShown) {
    Link.Answer("!Morvek_SC_I", "noise" + Framed({"SN:1"}) + "tail");
    Session.Search(View.Inputs());
    Run();
    EXPECT_EQ(View.Log, (std::vector<std::string>{"CR:(c)", "SN:1"}));
}

TEST_F(SessionEngine, AnUploadHoldsTheSessionUntilItEnds) {
    Link.Answer("!Morvek_SC_U", Framed({"Boot loader"}));
    ASSERT_TRUE(Session.Start(ssSendUpdate, View.Inputs()));
    Ticks(10);
    EXPECT_EQ(View.UploadsStarted, 1);
    EXPECT_EQ(View.PageEnables, 2);
    EXPECT_EQ(View.Log, (std::vector<std::string>{"CR:(c)", "Boot loader"}));
    EXPECT_FALSE(Session.Exchange.SessionReceiving);
    EXPECT_FALSE(Session.Start(ssSendReset, View.Inputs()));
    Ticks(50);
    EXPECT_FALSE(Session.Idle());
    View.UploadRuns = false;
    Session.Tick();
    EXPECT_TRUE(Session.Idle());
    EXPECT_FALSE(Link.Opened);

    // An upload that does not start ends the session at once.
    View.UploadStarts = false;
    ASSERT_TRUE(Session.Start(ssStartUploadDirect, View.Inputs()));
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(View.UploadsStarted, 2);
}

TEST_F(SessionEngine, EveryRequestEndsWithItsOutcome) {
    Link.Answer("!Morvek_SC_I", Identity);
    Link.Answer("05", Framed({"CR:(c)", "05 - CAN"}));
    Link.Answer("0", Framed({"PI:OF"}));
    Link.Answer("!Morvek_SC_U", Framed({"Boot loader"}));
    View.UploadStarts = false; // the upload's own outcome is its own
    const auto outcomeOf = [this](TSessionState request) {
        View.Mode = "05";
        EXPECT_TRUE(request == ssClearIdentity ? Session.Search(View.Inputs())
                                               : Session.Start(request, View.Inputs()));
        EXPECT_EQ(Session.Outcome(), soNone); // while it runs
        Run();
        return Session.Outcome();
    };
    EXPECT_EQ(outcomeOf(ssClearIdentity), soDone);
    EXPECT_EQ(outcomeOf(ssSendSelectMode), soDone);
    EXPECT_EQ(outcomeOf(ssSendPower), soDone);
    EXPECT_EQ(outcomeOf(ssSendUpdate), soDone);
    EXPECT_EQ(outcomeOf(ssSendReset), soDone);
    Link.Replies.clear();
    EXPECT_EQ(outcomeOf(ssClearIdentity), soNotFound);
    EXPECT_EQ(outcomeOf(ssSendPower), soNotFound);
    // The box of each failure is made from its outcome.
    EXPECT_EQ(UserIo.Boxes().back().Text,
              SessionOutcomeText(soNotFound, "Quorvelix", "COM3 (Communications Port)"));

    Link.OpenSucceeds = false;
    EXPECT_FALSE(Session.Search(View.Inputs()));
    EXPECT_EQ(Session.Outcome(), soPortNotOpened);
    Link.OpenSucceeds = true;
    ASSERT_TRUE(Session.Search(View.Inputs()));
    Link.Opened = false;
    Run();
    EXPECT_EQ(Session.Outcome(), soPortNotOpened);
    EXPECT_EQ(UserIo.Boxes().back().Text,
              SessionOutcomeText(soPortNotOpened, "Quorvelix", "COM3 (Communications Port)"));

    ASSERT_TRUE(Session.Search(View.Inputs()));
    Ticks(3);
    Session.Cancel();
    EXPECT_TRUE(Session.Idle());
    EXPECT_FALSE(Link.Opened);
    EXPECT_EQ(View.TickMs, 0u);
    EXPECT_EQ(Session.Outcome(), soCancelled);
}

TEST_F(SessionEngine, ARequestSendsTheInputsGivenAtItsStart) {
    Link.Answer("!Morvek_SC_M", Framed({"CR:ok"}));
    Link.Answer("!Morvek_SC_P", Framed({"CR:ok"}));
    View.Mode = "05";
    ASSERT_TRUE(Session.Start(ssSendSelectMode, View.Inputs()));
    Ticks(2);
    View.Mode = "07"; // the choice changes under the running request
    Run();
    View.Power = true;
    ASSERT_TRUE(Session.Start(ssSendPower, View.Inputs()));
    Ticks(2);
    View.Power = false;
    Run();
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_M", "05", "!Morvek_SC_P", "1"}));
}

// ---- the window's part ----

class SessionTest : public WindowTest {};

TEST_F(SessionTest, SearchLocksTheWindowAndShowsTheAdapter) {
    // What the mode list tells the real list: its rows once when they are
    // cleared and once at the end (added, sorted, marked and sorted again
    // in one tick), then the scrolling to the running mode.
    struct : IControlPeer {
        std::vector<TProp> Seen;
        void PropertyChanged(TControl&, TProp prop) override {
            if (prop == TProp::Items || prop == TProp::ItemIndex || prop == TProp::ScrollTo)
                Seen.push_back(prop);
        }
    } listPeer;
    Form.lvModes.AttachPeer(&listPeer);
    Link.Answer("!Morvek_SC_I", Identity);
    Form.btSearch.UserClick();
    Timers.Advance(10); // ssStart: the window locks
    EXPECT_FALSE(Form.pcOptions.Enabled());
    EXPECT_FALSE(Form.btSearch.Enabled());
    EXPECT_FALSE(Form.cbCOM.Enabled());
    RunSession();
    EXPECT_EQ(Form.edSerial.Text(), "QV000123");
    EXPECT_EQ(Form.edPower.Text(), "12.890");
    EXPECT_TRUE(Form.cbPower.Checked());
    EXPECT_EQ(Column(0), (std::vector<std::string>{"05", "07"}));
    EXPECT_EQ(Form.lvModes.Selected()->SubItems[0], "07");
    EXPECT_TRUE(Form.pcOptions.Enabled());
    EXPECT_TRUE(Form.btSearch.Enabled());
    EXPECT_TRUE(Form.btCopy.Enabled());
    EXPECT_EQ(Form.ActiveControl(), &Form.lvModes);
    EXPECT_FALSE(Form.tmrSearch.Running());
    EXPECT_EQ(listPeer.Seen, (std::vector<TProp>{TProp::Items, TProp::Items, TProp::ScrollTo}));
    Form.lvModes.AttachPeer(nullptr);
}

TEST_F(SessionTest, APortThatDoesNotOpenLeavesTheWindowUsable) {
    Link.OpenSucceeds = false;
    Form.btSearch.UserClick();
    EXPECT_FALSE(Form.tmrSearch.Running());
    EXPECT_TRUE(Form.btSearch.Enabled());
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

TEST_F(SessionTest, RequestsFromLockedControlsStartNoSecondSession) {
    Form.btSearch.UserClick();
    Timers.Advance(10);
    Form.btReset.UserClick();     // its own button is not locked
    Form.cbShow.SetChecked(true); // from code: the box is disabled, but fires
    Form.btRunTestClick();
    EXPECT_EQ(Link.Opens, 1);
    RunSession();
    EXPECT_EQ(Link.Writes, std::vector<Bytes>(4, "!Morvek_SC_I"));
}

// Every request handler, called while another request holds the window,
// leaves the focus target, the chosen mode and every field as they were.
TEST_F(SessionTest, ARefusedRequestChangesNothing) {
    Link.Answer("!Morvek_SC_I", Identity);
    Form.btSearch.UserClick();
    RunSession();
    Form.lvModes.UserSelect(Form.lvModes.Item(0));
    TListItem* chosen = Form.SelectedModeItem;
    ASSERT_NE(chosen, nullptr);
    Form.memLogTest.Add("STEP 1 : OK");
    Form.edTest_Result.SetText("0/0");
    Form.shpTest_Result.SetBrushColor(clLime);
    Form.memUpdate.Add("Updating firmware : Ok");
    Form.pbUpdateProgress.SetRange(0, 10);
    Form.pbUpdateProgress.SetPosition(10);
    Form.edFW_File.SetText("C:\\fw\\new.rfw");

    Form.btPower.UserClick(); // no answer: the session waits
    Timers.Advance(10);
    ASSERT_FALSE(Form.Session.Idle());
    const int opens = Link.Opens;
    Form.btSearchClick();
    Form.cbShow.SetChecked(true); // "Show ALL" runs the search handler
    Form.btModeSelectClick();
    Form.btRunTestClick();
    Form.btUpdateRunClick();
    Form.btResetClick();
    EXPECT_EQ(Link.Opens, opens);
    EXPECT_EQ(Form.FocusAfterSession, &Form.cbPower);
    EXPECT_EQ(Form.SelectedModeItem, chosen);
    EXPECT_FALSE(Form.lvInfo.Visible());
    EXPECT_EQ(Form.memLogTest.Lines(), std::vector<std::string>{"STEP 1 : OK"});
    EXPECT_EQ(Form.edTest_Result.Text(), "0/0");
    EXPECT_EQ(Form.shpTest_Result.BrushColor(), clLime);
    EXPECT_EQ(Form.memUpdate.Lines(), std::vector<std::string>{"Updating firmware : Ok"});
    EXPECT_EQ(Form.pbUpdateProgress.Position(), 10);
    EXPECT_EQ(Form.btUpdateRun.Caption(), "Run");
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

TEST_F(SessionTest, APortNameListedTwiceSelectsItsLastEntry) {
    Link.AddPort("COM3", "Second", "ACPI\\PNP0501\\2");
    Form.RebuildPortList(true);
    EXPECT_EQ(Form.cbCOM.ItemIndex(), 2);
    EXPECT_EQ(Form.cbCOM.Text(), "COM3 (Second)");
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
